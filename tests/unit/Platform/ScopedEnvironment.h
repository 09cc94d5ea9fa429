// Sets an environment variable for one test and restores the previous state afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace Vexel::Test
{

#if defined(_WIN32)
// The C library's own environment and the process's, both (an empty value removes the variable there).
inline void SetVariable(const char* name, const char* value)
{
    ::_putenv_s(name, value ? value : "");
}
#else
inline void SetVariable(const char* name, const char* value)
{
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}
#endif

class ScopedEnvironment
{
public:
    // A null value unsets the variable.
    ScopedEnvironment(const char* name, const char* value) : mName(name)
    {
        if (const char* old = std::getenv(name))
            mOld = old;
        SetVariable(name, value);
    }
    ~ScopedEnvironment() { SetVariable(mName.c_str(), mOld ? mOld->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string mName;
    std::optional<std::string> mOld;
};

} // namespace Vexel::Test
