#ifndef CM_KOLT_DEPENDENCYANSWER_H
#define CM_KOLT_DEPENDENCYANSWER_H

// What the controller's answer document ("output.xml") of a dependency
// check means, apart from how it was fetched: no I/O, no log.

#include <string>

// The answer's text: its bytes up to the first zero byte (all of them when
// there is none).
std::string answerText(const std::string& bytes);

struct DependencyVerdict {
    // The answer holds "<status>0</status>".
    bool passed = false;
    // For a failed check, what the caller is shown: the answer after its XML
    // declaration (after the first "?>"), or the whole answer when it has no
    // declaration; empty for a passed check.
    std::string forCaller;
};

DependencyVerdict judgeDependencyAnswer(const std::string& text);

#endif
