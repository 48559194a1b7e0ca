#include "platform/headless.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace platform {

namespace {

int answerFromEnvironment() {
    const char* value = std::getenv("PELLAMO_DEFAULT_ANSWER");
    if (value == nullptr) return IDNO;
    std::string v(value);
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v == "yes" || v == "y" ? IDYES : IDNO;
}

std::atomic<int>& answer() {
    static std::atomic<int> value{answerFromEnvironment()};
    return value;
}

}  // namespace

int defaultQuestionAnswer() { return answer().load(); }

void setDefaultQuestionAnswer(int idYesOrNo) { answer().store(idYesOrNo == IDYES ? IDYES : IDNO); }

}  // namespace platform
