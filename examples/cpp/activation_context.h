// Registration-free use of TarnDriver from a program that carries no manifest
// of its own (a plug-in, a host you do not build): the classes, type library
// and marshalers come from TarnDriver's assembly manifest (TarnDriver.manifest
// beside TarnDriver.DLL, in any folder), activated on this thread for as long
// as this object lives.  Create objects, and release them, while it lives.
// An empty path activates nothing: the classes are registered, or the
// program's own manifest names TarnDriver.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

class ManifestActivation {
public:
    explicit ManifestActivation(const std::wstring& manifest) : wanted_(!manifest.empty()) {
        if (!wanted_) return;
        ACTCTXW request = {};
        request.cbSize = sizeof request;
        request.lpSource = manifest.c_str();
        context_ = ::CreateActCtxW(&request);
        if (context_ == INVALID_HANDLE_VALUE) {
            std::printf("CreateActCtx(%ls) failed: %lu\n", manifest.c_str(), ::GetLastError());
        } else if (!::ActivateActCtx(context_, &cookie_)) {
            std::printf("ActivateActCtx failed: %lu\n", ::GetLastError());
            ::ReleaseActCtx(context_);
            context_ = INVALID_HANDLE_VALUE;
        }
    }
    ~ManifestActivation() {
        if (context_ == INVALID_HANDLE_VALUE) return;
        ::DeactivateActCtx(0, cookie_);
        ::ReleaseActCtx(context_);
    }
    ManifestActivation(const ManifestActivation&) = delete;
    ManifestActivation& operator=(const ManifestActivation&) = delete;

    // A manifest was named and could not be activated.
    bool failed() const { return wanted_ && context_ == INVALID_HANDLE_VALUE; }

private:
    bool wanted_;
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

// The same activation context on another thread (one the program starts, which
// creates or calls objects): GetCurrentActCtx on the activating thread names it.
class ActivationOnThread {
public:
    explicit ActivationOnThread(HANDLE context) {
        if (context && context != INVALID_HANDLE_VALUE) active_ = ::ActivateActCtx(context, &cookie_) != FALSE;
    }
    ~ActivationOnThread() {
        if (active_) ::DeactivateActCtx(0, cookie_);
    }
    ActivationOnThread(const ActivationOnThread&) = delete;
    ActivationOnThread& operator=(const ActivationOnThread&) = delete;

private:
    bool active_ = false;
    ULONG_PTR cookie_ = 0;
};

// The samples' first arguments "--manifest PATH": a manifest to activate,
// taken off the argument list; empty without them.
inline std::wstring TakeManifestArgument(int& argc, char**& argv) {
    if (argc < 3 || std::string(argv[1]) != "--manifest") return std::wstring();
    std::wstring path(::MultiByteToWideChar(CP_ACP, 0, argv[2], -1, nullptr, 0), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, argv[2], -1, &path[0], static_cast<int>(path.size()));
    path.resize(path.size() - 1);  // the terminator the count included
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
    return path;
}
