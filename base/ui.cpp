#include "base/ui.h"

#include "base/log.h"

namespace {
const char* AnswerName(int answer) {
    if (answer == kIdYes) return "Yes";
    if (answer == kIdNo) return "No";
    return "OK";
}
}  // namespace

int ShowMessageW(const char16_t* text, const char16_t* caption, unsigned buttons) {
    int answer = g_ui.showW(text, caption, buttons);
    LogW("message: ", text);
    Log("answer: %s", AnswerName(answer));
    return answer;
}

int ShowMessageA(const char* text, const char* caption, unsigned buttons) {
    int answer = g_ui.showA(text, caption, buttons);
    Log("message: %s", text);
    Log("answer: %s", AnswerName(answer));
    return answer;
}
