#pragma once

#include <QString>

// The modal message box, behind a seam so tests can answer it.
class MessageBoxes
{
public:
    enum Buttons { Ok, YesNo };
    enum Icon { Information, Question, Critical };
    // The values the button codes have always had: OK 1, Yes 6, No 7.
    enum Answer { AnswerOk = 1, AnswerYes = 6, AnswerNo = 7 };

    virtual ~MessageBoxes() = default;
    // Shows the box and returns the button pressed. A lone CR in the text is a
    // line break, as the callers write it.
    virtual Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon) = 0;
};
