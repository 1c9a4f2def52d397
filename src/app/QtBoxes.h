#pragma once
// The real message boxes.
#include "diag/Boxes.h"

namespace velmora {

class TQtBoxes final : public IBoxes {
public:
    int ChooseSupporter(const QList<SupporterRow> &rows, const QString &caption) override;
    BoxAnswer Show(const BoxRequest &request) override;
    // Shown without a nested loop; it deletes itself when closed.
    void Notify(const BoxRequest &request) override;
};

} // namespace velmora
