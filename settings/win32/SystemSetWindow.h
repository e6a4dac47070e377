// The settings dialog's window on Windows (dialog 132). Every control's
// notice goes to CSystemSet, which tells the window what to show.
#pragma once

// Before <windows.h>, whose IDOK and IDCANCEL macros would stand for the
// names of its control ids.
#include "settings/SystemSet.h"

#include "platform/win32/Dialog.h"
#include "settings/win32/SystemSetControls.h"

class SystemSetWindow : public win32::Dialog, public ISystemSetView {
public:
    SystemSetWindow(const SystemConfig& config, SystemSetServices services);

    // Runs the dialog modally, with no owner; IDOK when it was saved.
    INT_PTR DoModal();
    CSystemSet& controller() { return rules_; }

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
    bool onInitDialog() override;
    void onCommand(int id, int code) override;
    bool onMessage(UINT message, WPARAM w, LPARAM l, INT_PTR& result) override;

private:
    HWND toolTip_ = nullptr;
    CSystemSet rules_;
};
