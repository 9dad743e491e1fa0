// A Qt plugin as anyone could hand it to the programs through
// QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS: it writes what the process holds
// (the Cap*, NoNewPrivs, Uid and Gid lines of /proc/self/status) to the file
// named by VARDEL_PROBE_OUT.
#include <QFile>
#include <QGenericPlugin>

class CapabilityProbe : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "capability_probe.json")

public:
    QObject* create(const QString&, const QString&) override
    {
        QFile status(QStringLiteral("/proc/self/status"));
        QByteArray seen;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Cap") || line.startsWith("NoNewPrivs") || line.startsWith("Uid")
                    || line.startsWith("Gid"))
                    seen += line + '\n';
            }
        }
        QFile out(qEnvironmentVariable("VARDEL_PROBE_OUT"));
        if (out.open(QIODevice::WriteOnly))
            out.write(seen);
        return nullptr;
    }
};

#include "CapabilityProbe.moc"
