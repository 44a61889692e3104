#include "platform/ReplaceFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/WideTextWindows.h"

namespace {

constexpr int kNameTries = 16;

ReplaceOutcome Failed(ReplaceStep step) {
    return {step, SystemMessage(GetLastError())};
}

// ".NAME.<pid>-<tick>-<try>" beside the target, made new (CREATE_NEW): no
// other program's file is ever opened or replaced by it.
HANDLE CreateTemporary(const std::string& folder, const std::string& name, std::wstring* made) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const std::string candidate =
            folder + "\\." + name + "." + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64()) + "-" + std::to_string(attempt);
        *made = Utf16(candidate);
        const HANDLE file = CreateFileW(made->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

ReplaceOutcome ReplaceFileContent(const std::string& path, const std::string& content) {
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::wstring temporary;
    const HANDLE file = CreateTemporary(folder, name, &temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return Failed(ReplaceStep::Create);
    }
    const auto failed = [&](ReplaceStep step) {
        const ReplaceOutcome outcome = Failed(step);
        if (step != ReplaceStep::Rename) {
            CloseHandle(file);
        }
        DeleteFileW(temporary.c_str());
        return outcome;
    };
    size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<size_t>(content.size() - written, MAXDWORD));
        DWORD step = 0;
        if (!WriteFile(file, content.data() + written, chunk, &step, nullptr) || step == 0) {
            return failed(ReplaceStep::Write);
        }
        written += step;
    }
    if (!FlushFileBuffers(file)) {
        return failed(ReplaceStep::Flush);
    }
    if (!CloseHandle(file) || !MoveFileExW(temporary.c_str(), Utf16(path).c_str(),
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return failed(ReplaceStep::Rename);
    }
    return {};
}
