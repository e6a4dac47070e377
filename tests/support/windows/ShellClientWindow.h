// A shell client's window for the Windows suites: a window of the given
// class on a thread of its own, which keeps every WM_COPYDATA notice it
// receives (identifier and bytes) and answers it once kept.
#pragma once

#include <cstdint>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <windows.h>

class ShellClientWindow {
public:
    explicit ShellClientWindow(const std::string& windowClass) : class_(windowClass) {
        std::promise<HWND> made;
        thread_ = std::thread([this, &made] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &ShellClientWindow::procedure;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = class_.c_str();
            RegisterClassA(&wc);
            HWND window = CreateWindowA(class_.c_str(), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                        nullptr, wc.hInstance, nullptr);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            threadId_ = GetCurrentThreadId();
            made.set_value(window);
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0)
                DispatchMessageA(&msg);
            DestroyWindow(window);
            UnregisterClassA(class_.c_str(), wc.hInstance);
        });
        window_ = made.get_future().get();
    }
    ~ShellClientWindow() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

    std::vector<std::pair<ULONG_PTR, std::string>> notices() {
        std::lock_guard<std::mutex> lock(mutex_);
        return notices_;
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_COPYDATA) {
            auto* self =
                reinterpret_cast<ShellClientWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->notices_.push_back(received(reinterpret_cast<const COPYDATASTRUCT*>(l)));
            return TRUE;
        }
        return DefWindowProcA(window, message, w, l);
    }

    // Wine 8.0's WoW64 mode, which runs these 32-bit programs, hands a 32-bit
    // receiver the COPYDATASTRUCT of a message sent from another thread in
    // its 64-bit layout, unconverted: dwData in 8 bytes, then cbData, then
    // lpData at offset 16. Read as the 32-bit layout, that shows cbData 0 and
    // the length where the pointer belongs (never a pointer: the first 64 KiB
    // are never mapped). The receiver reads either layout, so that the test
    // sees what the sender sent.
    static std::pair<ULONG_PTR, std::string> received(const COPYDATASTRUCT* data) {
        const auto pointerValue = reinterpret_cast<uintptr_t>(data->lpData);
        if (data->cbData == 0 && pointerValue != 0 && pointerValue < 0x10000) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(data);
            uint32_t size = 0;
            uint64_t pointer = 0;
            std::memcpy(&size, bytes + 8, sizeof size);
            std::memcpy(&pointer, bytes + 16, sizeof pointer);
            return {
                data->dwData,
                std::string(reinterpret_cast<const char*>(static_cast<uintptr_t>(pointer)), size)};
        }
        return {data->dwData, std::string(static_cast<const char*>(data->lpData), data->cbData)};
    }

    std::string class_;
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<ULONG_PTR, std::string>> notices_;
};
