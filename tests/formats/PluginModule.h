// A bundled plug-in loaded for a test, with its exports typed. Frees the
// module when it goes.
#ifndef KESTRANE_TEST_PLUGIN_MODULE_H
#define KESTRANE_TEST_PLUGIN_MODULE_H

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "cpi.h"

class CPluginModule {
public:
    explicit CPluginModule(const std::string& path) : CPluginModule(LoadLibraryA(path.c_str())) {}
    explicit CPluginModule(const std::wstring& path) : CPluginModule(LoadLibraryW(path.c_str())) {}
    bool Loaded() const { return module_ && info_ && config_ && write_; }
    // Whether it has the optional Unicode exports.
    bool Unicode() const { return writeW_ && readW_; }
    HMODULE Handle() const { return module_.get(); }

    // The text for an info number, "" for none.
    std::string Info(int info, int bufferSize = CPI_INFO_SIZE) const {
        char buffer[CPI_INFO_SIZE + 1] = "";
        return info_(info, buffer, bufferSize) != 0 ? std::string(buffer) : std::string();
    }
    int Configure(HWND window, int mode) const { return config_(window, mode); }
    // The comment must be followed by a NUL, as the tool passes it.
    int Write(const std::string& path, std::string_view contents, std::string_view comment) const {
        return write_(nullptr, path.c_str(), contents.data(), static_cast<DWORD>(contents.size()),
                      comment.data(), static_cast<DWORD>(comment.size()));
    }
    int WriteW(const std::wstring& path, std::string_view contents, const std::wstring& comment) const {
        return writeW_(nullptr, path.c_str(), contents.data(), static_cast<DWORD>(contents.size()),
                       comment.c_str(), static_cast<DWORD>(comment.size()));
    }
    // ReadCommentW as the tool calls it: first with room for a short
    // comment, then, when that is too small, with the length it gave.
    // `comment` is left alone unless the result is CpiWritten; L"(none)"
    // stands for CPI_NO_COMMENT.
    int ReadW(const std::wstring& path, std::string_view contents, std::wstring& comment) const {
        std::wstring buffer(16, L'\0');
        DWORD length = static_cast<DWORD>(buffer.size());
        int result = readW_(path.c_str(), contents.data(), static_cast<DWORD>(contents.size()), buffer.data(), &length);
        if (result == CpiWritten && length != CPI_NO_COMMENT && length >= buffer.size()) {
            buffer.assign(length + 1, L'\0');
            length = static_cast<DWORD>(buffer.size());
            result = readW_(path.c_str(), contents.data(), static_cast<DWORD>(contents.size()), buffer.data(), &length);
        }
        if (result == CpiWritten) comment = length == CPI_NO_COMMENT ? L"(none)" : buffer.substr(0, length);
        return result;
    }

private:
    explicit CPluginModule(HMODULE module) : module_(module, &FreeLibrary) {
        info_ = Export<TGetPluginInfo>("GetPluginInfo");
        config_ = Export<TConfigurationDlg>("ConfigurationDlg");
        write_ = Export<TWriteComment>("WriteComment");
        writeW_ = Export<TWriteCommentW>("WriteCommentW");
        readW_ = Export<TReadCommentW>("ReadCommentW");
    }

    template <class T>
    T Export(const char* name) const {
        // The one place that turns an export into its typed stdcall pointer.
        return module_ ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)))
                       : nullptr;
    }

    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module_;
    TGetPluginInfo info_ = nullptr;
    TConfigurationDlg config_ = nullptr;
    TWriteComment write_ = nullptr;
    TWriteCommentW writeW_ = nullptr;
    TReadCommentW readW_ = nullptr;
};

#endif
