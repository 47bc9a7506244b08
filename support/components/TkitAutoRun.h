#pragma once

#include "support/KitSysUtils.h"
#include "support/TkitComponent.h"

namespace morvane {

// Keeps one program's autostart entry in step with its properties: while AutoRun is set,
// the entry of FileName exists for Kind; clearing AutoRun, or changing FileName or Kind,
// removes the old entry first. Results of the autostart routines are not reported
// (LastOutcome tells what the last attempt gave). Freeing the component leaves the entry
// as it is. Main thread.
class TkitAutoRun : public TkitComponent
{
    Q_OBJECT

public:
    // AutoRun false, Kind aekMachineRun, FileName the running program's full path.
    explicit TkitAutoRun(QObject* owner = nullptr);

    bool AutoRun() const { return m_autoRun; }
    void SetAutoRun(bool value);
    // Compared case-sensitively.
    const std::string& FileName() const { return m_fileName; }
    void SetFileName(const std::string& value);
    TkitAutoExecKind Kind() const { return m_kind; }
    void SetKind(TkitAutoExecKind value);

    // Applies the entry once more after the owner set every property.
    void Loaded();

    TkitAutoExecOutcome LastOutcome() const { return m_lastOutcome; }

protected:
    virtual void ApplyAutoRun();
    virtual void RemoveAutoRun();

private:
    template <typename T>
    void Change(T& field, const T& value);

    bool m_autoRun = false;
    std::string m_fileName;
    TkitAutoExecKind m_kind = aekMachineRun;
    TkitAutoExecOutcome m_lastOutcome = aeoDone;
};

} // namespace morvane
