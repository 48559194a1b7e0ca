// Settings of the headless message boxes used where there is no desktop.
#pragma once

namespace platform {

// Answer given to a Yes/No question when nobody can be asked (standard input
// is not a terminal). Starts as No, or as the PELLAMO_DEFAULT_ANSWER
// environment variable says ("yes"/"no"). Returns IDYES or IDNO.
int defaultQuestionAnswer();
void setDefaultQuestionAnswer(int idYesOrNo);

}  // namespace platform
