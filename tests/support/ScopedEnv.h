#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace vardel::test {

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // nullopt unsets the variable.
    void set(const char* name, const std::optional<QString>& value)
    {
        m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        if (value)
            qputenv(name, value->toLocal8Bit());
        else
            qunsetenv(name);
    }

    ~ScopedEnv()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->wasSet)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char* name;
        bool wasSet;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

} // namespace vardel::test
