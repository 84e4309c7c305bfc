// Turning the caller's UTF-16 name into the narrow name the file is opened
// under: exact UTF-8 on POSIX systems, or a refusal.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "test_support.h"

namespace quillox::test {
namespace {

// What a refused name gives instead of a narrow one: its reason.
std::string Refused(ErrorCode error) { return "refused: " + std::string(std::strerror(error)); }

TEST(NarrowPath, Utf16BecomesExactUtf8) {
    const std::string a197(197, 'a'), a198(198, 'a'), a199(199, 'a');
    const std::string unpaired = Refused(EILSEQ), tooLong = Refused(ENAMETOOLONG);
    const std::pair<std::u16string, std::string> cases[] = {
        {u"tone.wav", "tone.wav"},
        {u"caf\u00e9/\u20ac.wav", "caf\xc3\xa9/\xe2\x82\xac.wav"},
        {u"\U0001F3B5.wav", "\xf0\x9f\x8e\xb5.wav"},  // a surrogate pair
        {u"a\xD800.wav", unpaired},                   // unpaired high surrogate
        {u"a\xDC00.wav", unpaired},                   // unpaired low surrogate
        {u"a\xDC00\xD800", unpaired},                 // a pair in the wrong order
        {u"a\xD800", unpaired},                       // high surrogate at the end
        {ToPath(a199), a199},                         // 199 bytes and the terminator fit
        {ToPath(a199 + "a"), tooLong},                // 200 do not
        // Characters of 2, 3 and 4 bytes that just fit, and that straddle the limit.
        {ToPath(a197) + u"\u00e9", a197 + "\xc3\xa9"},
        {ToPath(a198) + u"\u00e9", tooLong},
        {ToPath(a197.substr(1)) + u"\u20ac", a197.substr(1) + "\xe2\x82\xac"},
        {ToPath(a197) + u"\u20ac", tooLong},
        {ToPath(a197.substr(2)) + u"\U0001F3B5", a197.substr(2) + "\xf0\x9f\x8e\xb5"},
        {ToPath(a197) + u"\U0001F3B5", tooLong},
    };
    for (const auto &[path, narrow] : cases) {
        char name[kOutputPathBytes];
        const ErrorCode error = ConvertPathToNarrow(path.c_str(), name);
        EXPECT_EQ(error == kSucceeded ? std::string(name) : Refused(error), narrow);
    }
    char name[kOutputPathBytes];
    EXPECT_EQ(ConvertPathToNarrow(nullptr, name), EINVAL);
}

}  // namespace
}  // namespace quillox::test
