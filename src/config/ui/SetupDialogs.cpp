#include "config/ui/SetupDialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

namespace velmora {

namespace {
ISetupDialogs g_realDialogs;
ISetupDialogs *g_dialogs = nullptr;

// On the heap: the parent may go while the dialog runs, and takes it along.
QString RunFileDialog(QWidget *parent, const QString &filter, const QString &preset, QFileDialog::AcceptMode mode,
                      QString *chosenFilter = nullptr)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent, QString(), QString(), filter);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!preset.isEmpty()) {
        const QFileInfo info(preset);
        if (info.isDir())
            dialog->setDirectory(preset);
        else {
            if (info.dir().exists())
                dialog->setDirectory(info.absolutePath());
            dialog->selectFile(info.fileName());
        }
    }
    const int result = dialog->exec();
    if (!dialog)
        return {};
    const QStringList files = dialog->selectedFiles();
    if (chosenFilter)
        *chosenFilter = dialog->selectedNameFilter();
    delete dialog.data();
    return result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString();
}
} // namespace

QString ISetupDialogs::OpenFile(QWidget *parent, const QString &filter, const QString &preset)
{
    return RunFileDialog(parent, filter, preset, QFileDialog::AcceptOpen);
}

QString ISetupDialogs::SaveFile(QWidget *parent, const QString &filter, const QString &dir)
{
    return RunFileDialog(parent, filter, dir, QFileDialog::AcceptSave);
}

QString ISetupDialogs::SaveFileAs(QWidget *parent, const QString &filter, const QString &suggested,
                                  QString *chosenFilter)
{
    return RunFileDialog(parent, filter, suggested, QFileDialog::AcceptSave, chosenFilter);
}

std::optional<quint32> ISetupDialogs::ChooseColor(QWidget *parent, quint32 bgr)
{
    const QColor initial(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid())
        return std::nullopt;
    return quint32(chosen.red()) | (quint32(chosen.green()) << 8) | (quint32(chosen.blue()) << 16);
}

ISetupDialogs &SetupDialogs()
{
    return g_dialogs ? *g_dialogs : g_realDialogs;
}

void SetSetupDialogs(ISetupDialogs *dialogs)
{
    g_dialogs = dialogs;
}

} // namespace velmora
