// A window for CSystemSet without Qt: it keeps the state of every control as
// the dialog's controls would (radio groups, sorted combo boxes, change
// notices of the parameter boxes) and lets a test act as the operator.
#pragma once

#include "settings/SystemSet.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakeSystemSetView : public ISystemSetView {
public:
    // The rules are built on this window, as the real window builds them.
    FakeSystemSetView(const SystemConfig& config, SystemSetServices services)
        : dialog_(*this, config, std::move(services)) {}

    CSystemSet& dialog() { return dialog_; }

    // ISystemSetView
    bool isChecked(int id) const override { return checked_.count(id) != 0; }
    void setChecked(int id, bool checked) override {
        if (checked) {
            for (int other : groupOf(id))
                checked_.erase(other);
            checked_.insert(id);
        } else {
            checked_.erase(id);
        }
    }
    void enable(int id, bool enabled) override {
        if (enabled)
            disabled_.erase(id);
        else
            disabled_.insert(id);
    }
    std::string text(int id) const override {
        auto it = texts_.find(id);
        return it == texts_.end() ? std::string() : it->second;
    }
    void setText(int id, const std::string& text) override {
        // An edit box notifies every change of its text, also one the dialog
        // makes itself.
        texts_[id] = text;
        dialog_.OnCommand(id, Notice::Change);
    }
    void limitText(int id, int characters) override { limits_[id] = characters; }
    void addItem(int id, const std::string& item) override {
        auto& list = items_[id];
        const int selected = selection(id);
        const std::string selectedText = selected < 0 ? std::string() : list[selected];
        list.insert(std::upper_bound(list.begin(), list.end(), item), item);
        if (selected >= 0)
            selection_[id] = int(std::find(list.begin(), list.end(), selectedText) - list.begin());
    }
    int selectedItem(int id) const override { return selection(id); }
    void setToolTip(int id, const std::string& text, int delayMs) override {
        toolTips_[id] = text;
        toolTipDelay_ = delayMs;
    }
    void centreOn(const Rect& area) override { centredOn_ = area; }
    void showMessage(const std::string& caption, const std::string& text) override {
        captions_.push_back(caption);
        messages_.push_back(text);
    }
    void endDialog(bool accepted) override {
        ended_ = true;
        accepted_ = accepted;
    }

    // The operator's acts.
    void click(int id) {
        setChecked(id, true);
        dialog_.OnCommand(id, Notice::Clicked);
    }
    void type(int id, const std::string& text) {
        texts_[id] = text;
        dialog_.OnCommand(id, Notice::Change);
    }
    void openExtendedList() { dialog_.OnCommand(systemset::IDC_EXTENDED_LIST, Notice::DropDown); }
    void chooseExtended(int position) {
        openExtendedList();
        selection_[systemset::IDC_EXTENDED_LIST] = position;
        dialog_.OnCommand(systemset::IDC_EXTENDED_LIST, Notice::SelChange);
    }

    std::set<int> checked_;
    std::set<int> disabled_;
    std::map<int, std::string> texts_;
    std::map<int, int> limits_;
    std::map<int, std::vector<std::string>> items_;
    std::map<int, int> selection_;
    std::map<int, std::string> toolTips_;
    int toolTipDelay_ = 0;
    Rect centredOn_{-1, -1, -1, -1};
    std::vector<std::string> messages_;
    std::vector<std::string> captions_; // of the message boxes, one per message
    bool ended_ = false;
    bool accepted_ = false;

private:
    static std::vector<int> groupOf(int id) {
        using namespace systemset;
        if (id == IDC_PRIMARY_DISPLAY || id == IDC_EXTENDED_DISPLAY)
            return {IDC_PRIMARY_DISPLAY, IDC_EXTENDED_DISPLAY};
        if (id >= IDC_PAGE_MACHINE_STATUS && id <= IDC_PAGE_FACTORY_OVERVIEW)
            return {IDC_PAGE_MACHINE_STATUS, IDC_PAGE_KNITTING_RECORD, IDC_PAGE_ORDER_PROGRESS,
                    IDC_PAGE_WORKSHOP_EFFICIENCY, IDC_PAGE_FACTORY_OVERVIEW};
        return {id};
    }
    int selection(int id) const {
        auto it = selection_.find(id);
        return it == selection_.end() ? -1 : it->second;
    }

    CSystemSet dialog_;
};
