// Linked into every test program: before anything else runs, the program gets
// configuration, cache, state and data folders of its own in a temporary
// folder, removed again when it ends. Kavro's settings, history and cache
// files and Qt's own (the file dialog keeps its last folder in a settings
// file) never reach the user's folders, and no run sees what an earlier one
// left there.

#include <QDir>
#include <QTemporaryDir>

namespace
{

struct Sandbox {
    QTemporaryDir home{QDir::tempPath() + QStringLiteral("/kavro-test-XXXXXX")};
    Sandbox()
    {
        const std::pair<const char *, const char *> folders[] = {
            {"XDG_CONFIG_HOME", "config"},
            {"XDG_CACHE_HOME", "cache"},
            {"XDG_STATE_HOME", "state"},
            {"XDG_DATA_HOME", "data"},
        };
        for (const auto &[variable, folder] : folders) {
            const QString path = home.filePath(QLatin1String(folder));
            QDir().mkpath(path);
            qputenv(variable, QFile::encodeName(path));
        }
    }
};

const Sandbox sandbox;

} // namespace
