/* Regional values that tests change and put back: the "intl" section of the user profile
   and the user locale's pictures. */
#ifndef Q32_TEST_INTL_H
#define Q32_TEST_INTL_H

#include <windows.h>
#include <map>
#include <string>

namespace q32test {

/* Sets keys of the profile's "intl" section; restores each one's first value (or its
   absence) at the end. */
class IntlValues {
public:
    IntlValues() = default;
    IntlValues(const IntlValues &) = delete;
    IntlValues &operator=(const IntlValues &) = delete;
    ~IntlValues()
    {
        for (const auto &[key, old] : saved_)
            WriteProfileStringA("intl", key.c_str(), old.first ? old.second.c_str() : nullptr);
    }

    /* value null removes the key. */
    void Set(const char *key, const char *value)
    {
        if (!saved_.count(key)) {
            char old[256];
            GetProfileStringA("intl", key, "\x01", old, sizeof old);
            bool present = std::string(old) != "\x01";
            saved_[key] = {present, present ? old : ""};
        }
        WriteProfileStringA("intl", key, value);
    }

private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

/* Sets one picture of the user locale (such as LOCALE_SSHORTDATE) for the object's
   lifetime. */
class LocalePicture {
public:
    LocalePicture(LCTYPE type, const std::string &value) : type_(type)
    {
        char old[256] = "";
        GetLocaleInfoA(LOCALE_USER_DEFAULT, type, old, sizeof old);
        old_ = old;
        SetLocaleInfoA(LOCALE_USER_DEFAULT, type, value.c_str());
    }
    ~LocalePicture() { SetLocaleInfoA(LOCALE_USER_DEFAULT, type_, old_.c_str()); }
    LocalePicture(const LocalePicture &) = delete;
    LocalePicture &operator=(const LocalePicture &) = delete;

private:
    LCTYPE type_;
    std::string old_;
};

} // namespace q32test

#endif
