#pragma once
// Every modal message box of the console goes through this one seam, so the
// logic never talks to QMessageBox directly and tests can record and answer.
#include <QString>

namespace velmora {

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };

struct BoxRequest {
    QString text;
    QString caption;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
};

class IBoxes {
public:
    virtual ~IBoxes() = default;
    virtual BoxAnswer Show(const BoxRequest &request) = 0;
};

// The installed implementation; without one, boxes are written to stderr and
// answered with their first button (OK or Yes), so nothing ever blocks.
IBoxes &Boxes();
// Installs `boxes` (not owned); nullptr restores the default.
void SetBoxes(IBoxes *boxes);

BoxAnswer ShowBox(const QString &text, const QString &caption,
                  BoxIcon icon = BoxIcon::None, BoxButtons buttons = BoxButtons::Ok);

} // namespace velmora
