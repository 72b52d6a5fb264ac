// What a dependency check makes of the controller's answer document, on
// arbitrary file contents: the text ends at the first zero byte, a
// "<status>0</status>" in it passes, and a failed check shows the caller
// the text after the first "?>", or all of it when there is none. Nothing
// is read outside the answer, and an empty one is an ordinary failure.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DependencyAnswer.h"

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = answerText(bytes);
    require(text.find('\0') == std::string::npos, "answer text holds a zero byte");
    require(bytes.compare(0, text.size(), text) == 0, "answer text is not the start of the file");
    require(text.size() == bytes.size() || bytes[text.size()] == '\0', "answer text ends before the first zero byte");

    const DependencyVerdict verdict = judgeDependencyAnswer(text);
    require(verdict.passed == (text.find("<status>0</status>") != std::string::npos), "wrong verdict");
    if (verdict.passed) {
        require(verdict.forCaller.empty(), "a passed check has text for the caller");
        return 0;
    }
    const size_t declarationEnd = text.find("?>");
    const std::string expected = declarationEnd == std::string::npos ? text : text.substr(declarationEnd + 2);
    require(verdict.forCaller == expected, "the caller is shown the wrong part of the answer");
    return 0;
}
