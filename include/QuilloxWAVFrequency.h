/*
 * QuilloxWAVFrequency: write a sine tone to a WAV file, the same bytes on
 * every processor.
 *
 * Usage:
 *
 *     #include <QuilloxWAVFrequency.h>
 *
 *     // A 5 second, 1 kHz tone at full scale.
 *     if (WAVHZTryCreate(WAVHZ_PATH("tone.wav"), 1000, 10, 5) != WAVHZ_DONE)
 *         perror("tone.wav");  // errno (on Windows GetLastError()) says why
 *
 * WAVHZTryCreate returns WAVHZ_DONE (999) or, when it fails, 1 or 2 (below)
 * with errno set, and the host carries on. WAVHZCreate, the original call,
 * does the same work but never returns a failure: it ends the calling
 * process with that status instead, without a message.
 *
 * WAVHZCreate(path, frequencyHz, level, seconds)
 *
 *   Writes `seconds` whole seconds of a sine tone of `frequencyHz` hertz
 *   (negative frequencies give the mirrored wave) to the file `path`,
 *   creating it or replacing everything it held. The file is a RIFF WAVE
 *   file: PCM, 1 channel, 44,100 samples per second, signed 16-bit
 *   little-endian samples, 44 + seconds * 88,200 bytes long. The whole file
 *   is assembled in memory (88,200 bytes per second of tone) before it is
 *   written. The samples are the same on every processor and system: sample
 *   i is computed in fixed single and double precision steps from
 *   sin(float(i * 6.28318 / period)), with the sine correctly rounded, so
 *   any correctly rounded sine (MPFR's, for one) gives the same bytes.
 *
 *   `level` sets the amplitude as level / 10 in whole numbers: -9..9 give
 *   silence (every sample -1, the midline of the 16-bit mapping), 10..19
 *   full scale, 20..29 twice full scale (the samples wrap around, they do
 *   not clip), negative levels invert the wave.
 *
 *   The phase is single precision, so the tone grows less clean the higher
 *   it is and the farther into it a sample lies: against the best-fitting
 *   sine at 1000 Hz, about -96 dB at the start, -77 dB at 1 s, -59 dB at
 *   10 s, -41 dB at 60 s, -23 dB at 600 s; at 10000 Hz -81, -55, -35 and
 *   -23 dB, and by 600 s no longer that tone (wavhz(1) has the table). The
 *   phase factor is 6.28318, so 1000 Hz plays at 999.99919 Hz; above
 *   22,050 Hz a frequency plays as its alias.
 *
 *   Returns WAVHZ_DONE (999). It never returns anything else: when it
 *   cannot do its work it ends the calling process at once (no atexit
 *   handlers, no stdio flush) with the status WAVHZTryCreate would return.
 *
 * WAVHZTryCreate(path, frequencyHz, level, seconds)
 *
 *   The same request, the same file and the same promises, but a failure
 *   returns, with errno (on Windows GetLastError()) saying why:
 *     WAVHZ_EXIT_NO_MEMORY (1)  the tone does not fit in memory (ENOMEM;
 *        ERROR_NOT_ENOUGH_MEMORY), or `seconds` > WAVHZ_MAX_SECONDS
 *        (48,695: longer tones' file sizes would not fit the 32-bit RIFF
 *        length fields; EOVERFLOW; ERROR_ARITHMETIC_OVERFLOW);
 *     WAVHZ_EXIT_CANNOT_WRITE (2)  the file cannot be written: it cannot be
 *        opened (ENOENT, EACCES, ...), the disk or the file-size limit has
 *        no room for it (ENOSPC, EFBIG), a write or the close fails (EIO,
 *        ...), `path` is null (EINVAL; ERROR_INVALID_PARAMETER), its name
 *        has no exact narrow form (EILSEQ; ERROR_NO_UNICODE_TRANSLATION) or
 *        is longer than WAVHZ_MAX_NAME_BYTES (199) bytes once converted
 *        (ENAMETOOLONG; ERROR_FILENAME_EXCED_RANGE).
 *   A failed call leaves nothing of its own behind: no descriptor, no
 *   memory, the lock free, the thread's signal mask and cancellation state
 *   as they were. errno says nothing after a call that succeeds.
 *
 * Both calls:
 *
 *   A failed request touches nothing but the file it opened. A file it
 *   created is removed. An existing file keeps every byte when the failure
 *   can be foreseen: the file-size limit and the room for the whole file
 *   are checked before the first byte changes (the room reserved where the
 *   file system can, otherwise counted by its layout against the free space
 *   the caller may use: ext2/3, FUSE, btrfs, reflinked copies), and no
 *   SIGXFSZ or SIGPIPE ends the process. A write that fails after that (an
 *   I/O error, a quota only the write meets) empties the file. The old
 *   RIFF header's place is cleared before the length changes and the new
 *   header is written last, so a file cut short anywhere (a killed
 *   process, an emptying that failed too) never starts with "RIFF" unless
 *   it is the whole new tone; the steps are synced in that order, so a
 *   power cut at any moment leaves the old tone whole, the new tone whole
 *   or a file without "RIFF". On Linux a new file is made without a name
 *   and linked in once whole, so a failure or a power cut leaves no name
 *   behind. The tone is on disk when the call returns. So when a later call fails on a name an
 *   earlier one wrote, the name holds the earlier tone whole, or, after an
 *   unforeseeable failure, an empty file. A symbolic link given as `path`
 *   is followed and never removed; devices, FIFOs and pipes are written as
 *   they are and never truncated or removed. The file is opened
 *   close-on-exec (on Windows, not inherited by child processes).
 *
 *   The file name: `path` is a NUL-terminated UTF-16 string (`char16_t`;
 *   `wchar_t` on Windows); WAVHZ_PATH("name") makes a literal of that type
 *   on every platform. On POSIX systems it is converted to UTF-8, whatever
 *   the process locale; on Windows to the ANSI code page. A name that has no
 *   exact narrow form (an unpaired surrogate, or on Windows a character the
 *   code page lacks, which is never replaced by a look-alike) is refused
 *   (status 2). The converted name, the whole path as given, must fit in
 *   WAVHZ_MAX_NAME_BYTES bytes.
 *
 *   Call them from one thread at a time: the library keeps the
 *   current request in one module-wide record. Calls that overlap anyway
 *   wait for each other (one lock around the request), so each writes its
 *   own tone under its own name. A process forked meanwhile starts with
 *   the lock free and without the call's file (but for the instant a FIFO's
 *   reader arrives). A thread cancelled during a call finishes the call
 *   first and is cancelled as it ends (the call's end is a cancellation
 *   point; it holds nothing then). Writers of one name in different
 *   processes take turns (a lock on the file), and a failed one never
 *   removes what another wrote. The library prints nothing, logs nothing
 *   and starts no threads.
 */
#ifndef QUILLOX_WAV_FREQUENCY_H
#define QUILLOX_WAV_FREQUENCY_H

#include <stdint.h>

/* QUILLOX_WAV_FREQUENCY_VERSION_MAJOR, _MINOR, _PATCH, _TWEAK and _STRING. */
#include "QuilloxWAVFrequencyVersion.h"

/* What a request that succeeds returns; what WAVHZTryCreate returns when it
   fails, which are the exit statuses WAVHZCreate ends the process with. */
#define WAVHZ_DONE 999
#define WAVHZ_EXIT_NO_MEMORY 1
#define WAVHZ_EXIT_CANNOT_WRITE 2

/* The longest tone, in whole seconds: its RIFF sizes still fit 32 bits. */
#define WAVHZ_MAX_SECONDS 48695
/* The longest file name, in bytes of its narrow form, without the
   terminator. */
#define WAVHZ_MAX_NAME_BYTES 199
/* The length in bytes of the file of a tone of `seconds` seconds (and the
   memory it is built in): a 44-byte header, then 88,200 bytes a second. */
#define WAVHZ_FILE_BYTES(seconds) (44u + (uint64_t)(seconds)*88200u)

/* The character type of the path argument: UTF-16 code units; and
   WAVHZ_PATH("tone.wav"), a string literal of that type. */
#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t WAVHZPathChar;
#define WAVHZ_PATH(literal) L##literal
#else
#if !defined(__cplusplus)
#include <uchar.h>
#endif
typedef char16_t WAVHZPathChar;
#define WAVHZ_PATH(literal) u##literal
#endif

/* Exported under their plain names (on Windows through the module-definition
   file), with the platform's one calling convention for plain functions. */
#if defined(QUILLOX_WAV_FREQUENCY_BUILDING) && defined(__GNUC__) && !defined(_WIN32)
#define WAVHZ_API __attribute__((visibility("default")))
#else
#define WAVHZ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

WAVHZ_API int32_t WAVHZTryCreate(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                                 uint32_t seconds);
WAVHZ_API int32_t WAVHZCreate(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                              uint32_t seconds);

#ifdef __cplusplus
}
#endif

#endif /* QUILLOX_WAV_FREQUENCY_H */
