#pragma once
// Records every box the code under test shows and answers from a script.
#include "diag/Boxes.h"

#include <QList>
#include <QObject>

#include <deque>
#include <functional>
#include <utility>

namespace velmora::test {

class RecordingBoxes final : public IBoxes {
public:
    RecordingBoxes() { SetBoxes(this); }
    ~RecordingBoxes() override { SetBoxes(nullptr); }

    BoxAnswer Show(const BoxRequest &request) override
    {
        shown.append(request);
        if (auto run = std::exchange(during, nullptr))
            run();
        if (!answers.empty()) {
            const BoxAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }

    // A notice is recorded among the boxes and, besides, as a notice: one
    // that blocks nothing.
    void Notify(const BoxRequest &request) override
    {
        notices.append(request);
        shown.append(request); // answers nothing, so takes no scripted answer
    }

    int ChooseSupporter(const QList<SupporterRow> &rows, const QString &caption) override
    {
        choiceRows.append(rows);
        choiceCaptions.append(caption);
        if (auto run = std::exchange(duringChoice, nullptr))
            run();
        if (choices.empty())
            return -1;
        const int c = choices.front();
        choices.pop_front();
        return c;
    }

    // Texts of the boxes shown so far.
    QStringList Texts() const
    {
        QStringList out;
        for (const auto &r : shown)
            out << r.text;
        return out;
    }

    QList<BoxRequest> shown;
    QList<BoxRequest> notices;
    std::deque<BoxAnswer> answers; // answered in order; default OK/Yes
    // Runs once, while the next box is open, as that box's event loop would
    // let other handlers run.
    std::function<void()> during;

    // The online-supporters choices asked for, and the answers (default Cancel).
    QList<QList<SupporterRow>> choiceRows;
    QStringList choiceCaptions;
    std::deque<int> choices;
    std::function<void()> duringChoice;
};

// Shows what `source` reports for the operator (its Problem signal, and its
// Notice signal where it has one) through the box seam, as the main window does.
template <class Source>
void ShowProblemsAsBoxes(Source &source)
{
    QObject::connect(&source, &Source::Problem,
                     [](const QString &text, const QString &caption, BoxIcon icon) { ShowBox(text, caption, icon); });
    if constexpr (requires { &Source::Notice; })
        QObject::connect(&source, &Source::Notice, [](const QString &text, const QString &caption, BoxIcon icon) {
            ShowNotice(text, caption, icon);
        });
}

} // namespace velmora::test
