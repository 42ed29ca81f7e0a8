/* HKEY_CLASSES_ROOT redirected, for this process, to a scratch key below
   HKEY_CURRENT_USER that the holder creates empty and removes again; class readers. */
#ifndef Q32_SCRATCH_CLASSES_H
#define Q32_SCRATCH_CLASSES_H

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace q32test {

struct ScratchClasses {
    explicit ScratchClasses(const char *tag)
        : name_("Software\\q32test_" + std::string(tag) + std::to_string(GetCurrentProcessId()))
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, name_.c_str(), &key_));
        EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, key_));
    }
    ~ScratchClasses()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
    }
    std::string name_;
    HKEY key_ = nullptr;
};

/* Sets the default value of HKEY_CLASSES_ROOT\key (created when missing). */
inline void SetClassText(const std::string &key, const std::string &value)
{
    LONG set = RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0);
    EXPECT_EQ(ERROR_SUCCESS, set) << key;
}

/* The default value of HKEY_CLASSES_ROOT\key ("" when it has none), "<none>" without the key. */
inline std::string ClassText(const std::string &key)
{
    char value[400] = "";
    LONG size = sizeof value;
    LONG found = RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size);
    return found == ERROR_SUCCESS ? value : "<none>";
}

/* HKEY_CLASSES_ROOT as text: every key in enumeration order, every value with its name,
   type and bytes. Two exports are equal only when nothing changed. */
inline std::string ExportClasses(const std::string &path = "")
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key)) return "";
    std::string out = "[" + path + "]\n";
    char name[16384];
    BYTE data[16384];
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize)) break;
        out += "\"" + std::string(name, nameSize) + "\"=" + std::to_string(type) + ":";
        out += std::string((const char *)data, dataSize) + "\n";
    }
    for (DWORD i = 0; RegEnumKeyA(key, i, name, 260) == ERROR_SUCCESS; i++)
        out += ExportClasses(path.empty() ? name : path + "\\" + name);
    RegCloseKey(key);
    return out;
}

} // namespace q32test

#endif
