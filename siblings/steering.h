/* How the stand-in libraries take their test controls: environment variables, and log
   files to which each call appends one line. Shared by the finder and the thumbnail
   dialog. */
#ifndef Q32_SIBLINGS_STEERING_H
#define Q32_SIBLINGS_STEERING_H

#include <windows.h>
#include <string>

namespace steering {

/* The variable's value, or empty when it is unset or too long. */
inline std::string Environment(const char *name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value) : std::string();
}

/* Appends line and a line break to the file that variable logVariable names, if any. */
inline void AppendLog(const char *logVariable, const std::string &line)
{
    std::string path = Environment(logVariable);
    if (path.empty()) return;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    std::string text = line + "\r\n";
    WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
}

} // namespace steering

#endif
