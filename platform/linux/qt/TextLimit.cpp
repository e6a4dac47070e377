#include "platform/linux/qt/TextLimit.h"

#include <QLineEdit>
#include <QValidator>

namespace platform {

namespace {

int characterCount(const QString& text) {
    return static_cast<int>(text.toUcs4().size());
}

// Accepts an edit whose text stays within the limit, or that does not make a
// text already past it any longer (shortening it, or replacing characters of
// it), and the program's own text whole. The length of the text
// the edit holds now is followed through textChanged. The program's text must
// count as valid input: the edit lets any change through while its text is
// invalid.
class TypedTextLimit : public QValidator {
public:
    TypedTextLimit(QLineEdit& edit, int limit) : QValidator(&edit), limit_(limit) {
        current_ = characterCount(edit.text());
        QObject::connect(&edit, &QLineEdit::textChanged,
                         [this](const QString& text) { current_ = characterCount(text); });
    }
    void allow(const QString& text) { allowed_ = text; }
    State validate(QString& input, int&) const override {
        const int length = characterCount(input);
        return length <= limit_ || length <= current_ || input == allowed_ ? Acceptable : Invalid;
    }

private:
    int limit_;
    int current_ = 0;
    QString allowed_;
};

} // namespace

void limitTypedText(QLineEdit& edit, int characters) {
    edit.setValidator(new TypedTextLimit(edit, characters));
}

void setTextWhole(QLineEdit& edit, const QString& text) {
    for (QObject* child : edit.children())
        if (auto* limit = dynamic_cast<TypedTextLimit*>(child))
            limit->allow(text);
    edit.setText(text);
}

} // namespace platform
