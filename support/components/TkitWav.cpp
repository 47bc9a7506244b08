#include "TkitWav.h"

#include <stdexcept>

namespace morvane {

TkitWav::TkitWav(QObject* owner, std::unique_ptr<SoundBackEnd> backEnd)
    : TkitCustomFileStorage(owner), m_backEnd(std::move(backEnd))
{
    if (!m_backEnd)
        throw std::invalid_argument("TkitWav needs a sound back end");
}

TkitWav::~TkitWav()
{
    Stop();
}

void TkitWav::PrepareSound()
{
    SoundRequest request;
    if (m_asyncPlay)
        request.Flags |= SND_ASYNC;
    if (m_looped)
        request.Flags |= SND_LOOP;
    if (m_noDefaultSound)
        request.Flags |= SND_NODEFAULT;
    if (m_noStopSound)
        request.Flags |= SND_NOSTOP;
    if (m_noWaitIfBusy)
        request.Flags |= SND_NOWAIT;
    switch (m_playFrom) {
    case pfFile:
        request.Flags |= SND_FILENAME;
        request.Name = FileName();
        break;
    case pfResource:
        request.Flags |= SND_RESOURCE;
        request.Name = m_resourceName;
        request.OwnModule = true;
        break;
    case pfDFM:
        request.Flags |= SND_MEMORY;
        // A shared copy: the device keeps these bytes even when the component drops its own.
        request.Data = Data();
        break;
    case pfSystemEvent:
        request.Flags |= SND_ALIAS;
        request.Name = m_eventAlias;
        break;
    }
    m_prepared = request;
}

void TkitWav::Play()
{
    PrepareSound();
    if (m_playDepth > 0) {
        // Reached from OnPlayBefore or OnPlayAfter through a setter: play, but run the
        // events only once, or each setter would start them again without end.
        m_backEnd->PlaySound(m_prepared);
        return;
    }
    ++m_playDepth;
    m_playing = true;
    try {
        if (m_onPlayBefore)
            m_onPlayBefore(this);
        m_backEnd->PlaySound(m_prepared);
        if (m_onPlayAfter)
            m_onPlayAfter(this);
    } catch (...) {
        m_playing = false;
        --m_playDepth;
        throw;
    }
    m_playing = false;
    --m_playDepth;
}

void TkitWav::Stop()
{
    m_playing = false;
    m_backEnd->StopSound();
}

void TkitWav::ReplayOrStop()
{
    if (m_playing)
        Play();
    else
        Stop();
}

void TkitWav::SetAsyncPlay(bool value)
{
    if (value == m_asyncPlay)
        return;
    m_asyncPlay = value;
    if (value && m_playing)
        Stop();
}

void TkitWav::SetEventAlias(const QString& value)
{
    if (value == m_eventAlias)
        return;
    m_eventAlias = value;
    if (m_playFrom == pfSystemEvent)
        ReplayOrStop();
}

void TkitWav::SetFileName(const QString& value)
{
    if (value == FileName())
        return;
    TkitCustomFileStorage::SetFileName(value);
    if (m_playFrom == pfDFM)
        ReplayOrStop();
}

void TkitWav::SetLooped(bool value)
{
    if (value == m_looped)
        return;
    m_looped = value;
    if (m_playing) {
        Stop();
        if (m_looped)
            Play();
    }
}

void TkitWav::SetNoWaitIfBusy(bool value)
{
    if (value == m_noWaitIfBusy)
        return;
    m_noWaitIfBusy = value;
    if (value && m_playing) {
        Stop();
        Play();
    }
}

void TkitWav::SetPlayFrom(TkitWavPlayFrom value)
{
    if (value == m_playFrom)
        return;
    m_playFrom = value;
    if (value == pfDFM)
        Load();
    else
        Clear();
}

void TkitWav::SetResourceName(const QString& value)
{
    if (value == m_resourceName)
        return;
    m_resourceName = value;
    if (m_playFrom == pfResource && m_playing)
        Play();
}

} // namespace morvane
