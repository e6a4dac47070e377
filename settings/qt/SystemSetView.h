// The settings dialog's window: template 132 laid out in dialog units of the
// dialog font. It forwards every notice of its controls to CSystemSet and does
// what the rules tell it; it holds no rule and no text of its own.
#pragma once

#include "settings/SystemSet.h"

#include <QDialog>
#include <map>

class QButtonGroup;

class SystemSetView : public QDialog, public ISystemSetView {
    Q_OBJECT
public:
    SystemSetView(const SystemConfig& config, SystemSetServices services);

    CSystemSet& controller() { return rules_; }

    // Runs OnInitDialog, then the dialog modally; returns QDialog's result.
    int DoModal();

    // ISystemSetView
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    void enable(int id, bool enabled) override;
    std::string text(int id) const override;
    void setText(int id, const std::string& text) override;
    void limitText(int id, int characters) override;
    void addItem(int id, const std::string& item) override;
    int selectedItem(int id) const override;
    void setToolTip(int id, const std::string& text, int delayMs) override;
    void centreOn(const Rect& area) override;
    void showMessage(const std::string& caption, const std::string& text) override;
    void endDialog(bool accepted) override;

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    QWidget* control(int id) const;
    QButtonGroup* groupOf(int id) const;

    std::map<int, QWidget*> controls_;
    std::map<int, QButtonGroup*> groups_; // radio id -> its group
    // Where the window is centred. Before it is shown its frame is not
    // known; it is centred once more when the window manager has framed it.
    Rect centreArea_;
    bool centredWithFrame_ = false;
    CSystemSet rules_;
};
