// Turning the caller's UTF-16 name into the narrow name the file is opened
// under: exact UTF-8 on POSIX systems, or a refusal.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "test_support.h"

namespace quillox::test {
namespace {

TEST(NarrowPath, Utf16BecomesExactUtf8) {
    const std::string a197(197, 'a'), a198(198, 'a'), a199(199, 'a');
    const std::pair<std::u16string, std::optional<std::string>> cases[] = {
        {u"tone.wav", "tone.wav"},
        {u"caf\u00e9/\u20ac.wav", "caf\xc3\xa9/\xe2\x82\xac.wav"},
        {u"\U0001F3B5.wav", "\xf0\x9f\x8e\xb5.wav"},  // a surrogate pair
        {u"a\xD800.wav", std::nullopt},               // unpaired high surrogate
        {u"a\xDC00.wav", std::nullopt},               // unpaired low surrogate
        {u"a\xDC00\xD800", std::nullopt},             // a pair in the wrong order
        {u"a\xD800", std::nullopt},                   // high surrogate at the end
        {ToPath(a199), a199},                         // 199 bytes and the terminator fit
        {ToPath(a199 + "a"), std::nullopt},           // 200 do not
        // Characters of 2, 3 and 4 bytes that just fit, and that straddle the limit.
        {ToPath(a197) + u"\u00e9", a197 + "\xc3\xa9"},
        {ToPath(a198) + u"\u00e9", std::nullopt},
        {ToPath(a197.substr(1)) + u"\u20ac", a197.substr(1) + "\xe2\x82\xac"},
        {ToPath(a197) + u"\u20ac", std::nullopt},
        {ToPath(a197.substr(2)) + u"\U0001F3B5", a197.substr(2) + "\xf0\x9f\x8e\xb5"},
        {ToPath(a197) + u"\U0001F3B5", std::nullopt},
    };
    for (const auto &[path, narrow] : cases) {
        char name[kOutputPathBytes];
        const bool converted = ConvertPathToNarrow(path.c_str(), name);
        EXPECT_EQ(converted ? std::optional<std::string>(name) : std::nullopt, narrow);
    }
    char name[kOutputPathBytes];
    EXPECT_FALSE(ConvertPathToNarrow(nullptr, name));
}

}  // namespace
}  // namespace quillox::test
