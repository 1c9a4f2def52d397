#include "diag/Boxes.h"

#include <cstdio>

namespace velmora {
namespace {

class StderrBoxes final : public IBoxes {
public:
    BoxAnswer Show(const BoxRequest &request) override
    {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(request.caption), qPrintable(request.text));
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
};

StderrBoxes g_default;
IBoxes *g_boxes = nullptr;
bool g_unattended = false;

} // namespace

IBoxes &Boxes()
{
    return g_boxes && !g_unattended ? *g_boxes : g_default;
}

void SetBoxesUnattended(bool unattended)
{
    g_unattended = unattended;
}

void SetBoxes(IBoxes *boxes)
{
    g_boxes = boxes;
}

BoxAnswer ShowBox(const QString &text, const QString &caption, BoxIcon icon, BoxButtons buttons,
                  QWidget *owner)
{
    return Boxes().Show(BoxRequest{text, caption, icon, buttons, owner});
}

BoxAnswer ConfirmBox(const QString &text, const QString &caption, BoxIcon icon, BoxButtons buttons, QWidget *owner)
{
    return Boxes().Show(BoxRequest{text, caption, icon, buttons, owner, true});
}

int ChooseOnlineSupporter(const QList<SupporterRow> &rows, const QString &caption)
{
    const int chosen = Boxes().ChooseSupporter(rows, caption);
    // An answer outside the list counts as Cancel.
    return chosen >= 0 && chosen < rows.size() ? chosen : -1;
}

void ShowNotice(const QString &text, const QString &caption, BoxIcon icon)
{
    Boxes().Notify(BoxRequest{text, caption, icon, BoxButtons::Ok});
}

} // namespace velmora
