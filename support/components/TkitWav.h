#pragma once

#include "TkitCustomFileStorage.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace morvane {

// Flags of a sound request.
inline constexpr std::uint32_t SND_ASYNC = 0x1;        // return at once; else wait for the end
inline constexpr std::uint32_t SND_NODEFAULT = 0x2;    // silence when the sound is not found
inline constexpr std::uint32_t SND_MEMORY = 0x4;       // the sound is the request's Data
inline constexpr std::uint32_t SND_LOOP = 0x8;         // repeat until stopped
inline constexpr std::uint32_t SND_NOSTOP = 0x10;      // never cut a sound that plays
inline constexpr std::uint32_t SND_NOWAIT = 0x2000;    // give up when the device is busy
inline constexpr std::uint32_t SND_ALIAS = 0x10000;    // Name is an event alias
inline constexpr std::uint32_t SND_FILENAME = 0x20000; // Name is a file
inline constexpr std::uint32_t SND_RESOURCE = 0x40004; // Name is a resource of the program

// One request to the sound device. Data holds its own copy of the bytes, so the device
// may keep playing them whatever happens to the component afterwards.
struct SoundRequest
{
    QString Name;
    QByteArray Data;
    std::uint32_t Flags = 0;
    bool OwnModule = false; // the name is looked up among the program's own resources
};

// The desktop's sound device: the programs use QtSoundBackEnd, tests a recording fake.
// Main thread.
class SoundBackEnd
{
public:
    virtual ~SoundBackEnd() = default;
    // False when the sound could not be played.
    virtual bool PlaySound(const SoundRequest& request) = 0;
    // Stops whatever this program plays.
    virtual void StopSound() = 0;
};

enum TkitWavPlayFrom : std::uint8_t
{
    pfFile = 0,
    pfResource = 1,
    pfDFM = 2, // the bytes kept with the component
    pfSystemEvent = 3
};

// Plays a wave sound from a file, a resource of the program, the bytes kept with the
// component, or an event alias of the desktop's sound theme. Setters replay or stop as
// their property asks while a sound is being started (that is, when called from
// OnPlayBefore or OnPlayAfter); a Play reached that way plays without running the events
// again, so they never recurse. Destroying the component stops the sound. Main thread.
class TkitWav : public TkitCustomFileStorage
{
    Q_OBJECT

public:
    using NotifyEvent = std::function<void(QObject* sender)>;

    // backEnd must not be null (std::invalid_argument); the component owns it.
    TkitWav(QObject* owner, std::unique_ptr<SoundBackEnd> backEnd);
    ~TkitWav() override;

    bool AsyncPlay() const { return m_asyncPlay; }
    virtual void SetAsyncPlay(bool value);
    const QString& EventAlias() const { return m_eventAlias; }
    virtual void SetEventAlias(const QString& value);
    void SetFileName(const QString& value) override;
    bool Looped() const { return m_looped; }
    virtual void SetLooped(bool value);
    bool NoDefaultSound() const { return m_noDefaultSound; }
    void SetNoDefaultSound(bool value) { m_noDefaultSound = value; }
    bool NoStopSound() const { return m_noStopSound; }
    void SetNoStopSound(bool value) { m_noStopSound = value; }
    bool NoWaitIfBusy() const { return m_noWaitIfBusy; }
    virtual void SetNoWaitIfBusy(bool value);
    TkitWavPlayFrom PlayFrom() const { return m_playFrom; }
    // pfDFM loads FileName into the kept bytes; any other source empties them.
    virtual void SetPlayFrom(TkitWavPlayFrom value);
    const QString& ResourceName() const { return m_resourceName; }
    virtual void SetResourceName(const QString& value);
    void SetOnPlayBefore(NotifyEvent handler) { m_onPlayBefore = std::move(handler); }
    void SetOnPlayAfter(NotifyEvent handler) { m_onPlayAfter = std::move(handler); }

    // True only while Play runs.
    bool Playing() const { return m_playing; }
    virtual void PrepareSound();
    virtual void Play();
    virtual void Stop();
    // The request PrepareSound made last.
    const SoundRequest& Prepared() const { return m_prepared; }
    SoundBackEnd& BackEnd() const { return *m_backEnd; }

private:
    void ReplayOrStop();

    std::unique_ptr<SoundBackEnd> m_backEnd;
    bool m_asyncPlay = true;
    bool m_looped = false;
    bool m_noDefaultSound = true;
    bool m_noStopSound = false;
    TkitWavPlayFrom m_playFrom = pfFile;
    QString m_resourceName = "WAVE1";
    NotifyEvent m_onPlayAfter;
    NotifyEvent m_onPlayBefore;
    bool m_noWaitIfBusy = true;
    QString m_eventAlias = ".Default";
    bool m_playing = false;
    int m_playDepth = 0;
    SoundRequest m_prepared;
};

} // namespace morvane
