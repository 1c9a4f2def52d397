#pragma once
// The session journal "Velmora.log": one dated line per event, appended and
// flushed at once so the file is complete even if the console dies.
#include <QString>

#include <cstdio>

namespace velmora {

class TLogFile {
public:
    // Opens `fileName` for appending; on failure shows the warning box once and
    // runs on without a log.
    explicit TLogFile(const QString &fileName);
    ~TLogFile();
    TLogFile(const TLogFile &) = delete;
    TLogFile &operator=(const TLogFile &) = delete;

    // Writes "<short date> at <long time>  <text>" and a line break. The text is
    // written as it is: callers pass values from the network through OneLine().
    void AddLine(const QString &text);

    bool IsOpen() const { return m_file != nullptr; }

private:
    std::FILE *m_file = nullptr;
};

} // namespace velmora
