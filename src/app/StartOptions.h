#pragma once
// How the console was started, and which folder it keeps its files in.
//
// Started by hand in a folder with no arguments, the console works in that
// folder, as it always has. A desktop launcher starts programs in whatever
// folder it happens to be in, so a start through the desktop entry
// (`--desktop`), or a start in a folder that is not the operator's (no
// Velmora.ini and not writable), uses the per-user data folder
// ($XDG_DATA_HOME/velmora) instead. `--workdir DIR` names the folder outright.
//
// main() settles all of this, and changes into the folder, before the main
// window is built: the rest of the program only ever sees "the folder it was
// started in".
#include <QString>
#include <QStringList>

namespace velmora {

struct TStartOptions {
    enum class Action { Run, ShowHelp, ShowVersion, Error };
    Action action = Action::Run;
    bool desktop = false; // started through the desktop entry
    QString workDir;      // --workdir as given; empty when not given
    QString error;        // for Action::Error: what was wrong, one line
};

// `args` are the program's arguments without the program name, after the
// toolkit took its own (-platform, -display, ...).
TStartOptions ParseStartOptions(const QStringList &args);

// True when `args` (the raw command line without the program name) asks only
// for text: --help or --version. Checked before a display is opened, so both
// work in a plain terminal.
bool WantsTextOnly(const QStringList &args);

QString HelpText(const QString &programName);
QString VersionText(const QString &version);

// $XDG_DATA_HOME/velmora, or ~/.local/share/velmora when XDG_DATA_HOME is
// unset, empty or relative (as the XDG base-directory rules say).
QString DataHomeFolder();

enum class TFolderChoice { Current, Explicit, DataHome };

// Which folder to use. `currentHasConfig` and `currentWritable` describe the
// current folder; only a start without --workdir and --desktop looks at them.
TFolderChoice ChooseWorkFolder(const TStartOptions &options, bool currentHasConfig, bool currentWritable);

// Whether a file can be created in `folder`: tried for real, since neither the
// permission bits nor access() see read-only mounts and pseudo file systems
// alike for every user.
bool FolderIsWritable(const QString &folder);

// Makes `folder` usable as the working folder: creates it (and its parents)
// when missing, the last one private to the user when `privateLeaf`. Returns
// the absolute path, or an empty string with `*error` set.
QString PrepareWorkFolder(const QString &folder, bool privateLeaf, QString *error);

// Everything above for one start: the absolute folder to change into, or an
// empty string with `*error` set. `currentDir` is the folder the program was
// started in.
QString ResolveWorkFolder(const TStartOptions &options, const QString &currentDir, QString *error);

} // namespace velmora
