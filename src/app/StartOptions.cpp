#include "app/StartOptions.h"

#include "config/Genfunc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace velmora {

namespace {

const QString kWorkDir = QStringLiteral("--workdir");

} // namespace

TStartOptions ParseStartOptions(const QStringList &args)
{
    TStartOptions options;
    auto fail = [&options](const QString &text) {
        options.action = TStartOptions::Action::Error;
        options.error = text;
        return options;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            options.action = TStartOptions::Action::ShowHelp;
            return options;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            options.action = TStartOptions::Action::ShowVersion;
            return options;
        }
        if (arg == QLatin1String("--desktop")) {
            options.desktop = true;
        } else if (arg == kWorkDir || arg.startsWith(kWorkDir + QLatin1Char('='))) {
            QString value;
            if (arg == kWorkDir) {
                if (i + 1 >= args.size())
                    return fail(QStringLiteral("--workdir needs a folder"));
                value = args.at(++i);
            } else {
                value = arg.mid(kWorkDir.size() + 1);
            }
            if (value.isEmpty())
                return fail(QStringLiteral("--workdir needs a folder"));
            if (!options.workDir.isEmpty() && options.workDir != value)
                return fail(QStringLiteral("--workdir given twice"));
            options.workDir = value;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option %1").arg(arg));
        } else {
            return fail(QStringLiteral("unexpected argument %1 (the console opens no files)").arg(arg));
        }
    }
    return options;
}

bool WantsTextOnly(const QStringList &args)
{
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help") || arg == QLatin1String("-v")
            || arg == QLatin1String("--version"))
            return true;
    }
    return false;
}

QString HelpText(const QString &programName)
{
    return QStringLiteral(
               "Usage: %1 [--workdir DIR] [--desktop]\n"
               "The operator console of the KORVA live web-chat help desk.\n"
               "\n"
               "  --workdir DIR  keep the console's files (Velmora.ini, Velmora.log, the\n"
               "                 shortcut files, base_mail.txt) in DIR, creating it if needed\n"
               "  --desktop      started from the desktop menu: keep them in\n"
               "                 $XDG_DATA_HOME/velmora (usually ~/.local/share/velmora)\n"
               "  -h, --help     show this text and exit\n"
               "  -v, --version  show the version and exit\n"
               "\n"
               "Without options the console works in the folder it is started from. When\n"
               "that folder holds no Velmora.ini and is not writable, it uses\n"
               "$XDG_DATA_HOME/velmora instead.\n"
               "\n"
               "One console runs per folder: a second start in the same folder brings the\n"
               "running console's window to the front and exits.\n")
        .arg(programName);
}

QString VersionText(const QString &version)
{
    return QStringLiteral("velmora %1\n").arg(version);
}

QString DataHomeFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // The base-directory rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/velmora"));
}

TFolderChoice ChooseWorkFolder(const TStartOptions &options, bool currentHasConfig, bool currentWritable)
{
    if (!options.workDir.isEmpty())
        return TFolderChoice::Explicit;
    if (options.desktop)
        return TFolderChoice::DataHome;
    if (!currentHasConfig && !currentWritable)
        return TFolderChoice::DataHome;
    return TFolderChoice::Current;
}

bool FolderIsWritable(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".velmora-probe-XXXXXX")));
    return probe.open(); // removed again when `probe` goes
}

QString PrepareWorkFolder(const QString &folder, bool privateLeaf, QString *error)
{
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("%1 is not a folder").arg(path);
        return {};
    }
    if (!info.exists()) {
        if (!QDir().mkpath(path)) {
            *error = QStringLiteral("cannot create the folder %1").arg(path);
            return {};
        }
        // Velmora.ini holds the server's credentials and the mail password.
        if (privateLeaf)
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (!QFileInfo(path).isExecutable()) {
        *error = QStringLiteral("cannot enter the folder %1").arg(path);
        return {};
    }
    return path;
}

QString ResolveWorkFolder(const TStartOptions &options, const QString &currentDir, QString *error)
{
    const bool hasConfig = QFileInfo::exists(QDir(currentDir).filePath(QString::fromLatin1(kConfigFileName)));
    // Probing writes into the folder: only done when there is no settings file.
    const bool writable = hasConfig || FolderIsWritable(currentDir);
    switch (ChooseWorkFolder(options, hasConfig, writable)) {
    case TFolderChoice::Explicit:
        return PrepareWorkFolder(QDir(currentDir).absoluteFilePath(options.workDir), false, error);
    case TFolderChoice::DataHome:
        return PrepareWorkFolder(DataHomeFolder(), true, error);
    case TFolderChoice::Current:
        break;
    }
    return QDir(currentDir).absolutePath();
}

} // namespace velmora
