#pragma once
// The version box of the Help menu.
#include <QDialog>

class QPushButton;

namespace velmora {

class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *ProductName = "Velmora";

    explicit TAboutBox(QWidget *parent = nullptr);

    // Shows the box modally and returns when the operator closes it.
    static void Execute(QWidget *parent);

    QPushButton *OKBtn = nullptr;
};

} // namespace velmora
