// The dialog helper's routing: the object is found from WM_INITDIALOG on,
// commands reach it by control id and code, each message's result goes back
// the way the system wants it, and a destroyed object hears nothing more.
#include "platform/win32/Dialog.h"

#include "res/windows/resource.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

class Recorder : public win32::Dialog {
public:
    std::vector<std::pair<int, int>> commands;
    int initialised = 0;
    HWND windowAtInit = nullptr;
    UINT lastMessage = 0;

protected:
    bool onInitDialog() override {
        ++initialised;
        windowAtInit = window();
        return false;
    }
    void onCommand(int id, int code) override { commands.emplace_back(id, code); }
    bool onMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) override {
        lastMessage = message;
        if (message == WM_CTLCOLORSTATIC) {
            result = 0x1234;
            return true;
        }
        if (message == WM_APP + 7) {
            result = 42;
            return true;
        }
        return false;
    }
};

} // namespace

TEST(DialogRouting, ReachesTheObjectFromItsFirstMessageToItsDestruction) {
    auto dialog = std::make_unique<Recorder>();
    ASSERT_TRUE(dialog->createModeless(IDD_LOGIN, nullptr));
    HWND window = dialog->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(dialog->initialised, 1);
    EXPECT_EQ(dialog->windowAtInit, window);
    EXPECT_FALSE(IsWindowVisible(window)) << "the login template is made hidden";

    // Commands by control id and notification code, from controls and keys.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_LOGIN_ACCOUNT, EN_CHANGE),
                 reinterpret_cast<LPARAM>(dialog->item(IDC_LOGIN_ACCOUNT)));
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    const std::vector<std::pair<int, int>> commands{{IDC_LOGIN_ACCOUNT, EN_CHANGE},
                                                    {IDOK, BN_CLICKED}};
    EXPECT_EQ(dialog->commands, commands);

    // A colour message's brush is the procedure's own result; any other
    // message's result comes back through the dialog's message result.
    EXPECT_EQ(SendMessageA(window, WM_CTLCOLORSTATIC, 0, 0), 0x1234);
    EXPECT_EQ(SendMessageA(window, WM_APP + 7, 0, 0), 42);

    // The verbs by control id.
    dialog->setItemText(IDC_LOGIN_ACCOUNT, "operator-7");
    EXPECT_EQ(dialog->itemText(IDC_LOGIN_ACCOUNT), "operator-7");
    dialog->enableItem(IDOK, false);
    EXPECT_FALSE(IsWindowEnabled(dialog->item(IDOK)));
    EXPECT_EQ(dialog->itemText(4711), "");

    // Destroyed with its object: the window goes, and its last messages
    // find no object.
    dialog.reset();
    EXPECT_FALSE(IsWindow(window));
}

TEST(DialogRouting, AModalRunEndsWithItsResult) {
    class Ending : public win32::Dialog {
    protected:
        bool onInitDialog() override {
            PostMessageA(window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return true;
        }
        void onCommand(int id, int) override {
            if (id == IDCANCEL)
                endDialog(77);
        }
    } dialog;
    EXPECT_EQ(dialog.runModal(IDD_SETTINGS, nullptr), 77);
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_EQ(dialog.runModal(4711, nullptr), -1) << "no such template";
}
