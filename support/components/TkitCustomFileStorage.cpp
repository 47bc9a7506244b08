#include "TkitCustomFileStorage.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QtEndian>

namespace morvane {

namespace {

// Reads exactly size bytes in pieces, so a size that claims more than the stream holds
// never allocates it up front. False when the stream ends first.
bool ReadExactly(QIODevice& stream, qint64 size, QByteArray& out)
{
    constexpr qint64 kPiece = 1 << 20;
    out.clear();
    while (out.size() < size) {
        const qint64 want = std::min(kPiece, size - out.size());
        const QByteArray piece = stream.read(want);
        if (piece.isEmpty() && !stream.waitForReadyRead(0) && stream.atEnd())
            return false;
        if (piece.isEmpty())
            return false;
        out.append(piece);
    }
    return true;
}

// Calls the event when it is assigned, also when the guarded block throws.
class FinalReport
{
public:
    FinalReport(const std::function<void(QObject*, bool)>& event, QObject* sender, const bool& result)
        : m_event(event), m_sender(sender), m_result(result)
    {
    }
    ~FinalReport()
    {
        if (m_event)
            m_event(m_sender, m_result);
    }

private:
    const std::function<void(QObject*, bool)>& m_event;
    QObject* m_sender;
    const bool& m_result;
};

std::string LoadError(const QString& name)
{
    return "Can not load data from the \"" + name.toStdString() + "\" file";
}

std::string SaveError(const QString& name)
{
    return "Can not save data to the \"" + name.toStdString() + "\" file";
}

} // namespace

TkitCustomFileStorage::TkitCustomFileStorage(QObject* owner) : TkitComponent(owner) {}

TkitCustomFileStorage::~TkitCustomFileStorage() = default;

void TkitCustomFileStorage::Clear()
{
    // A fresh array: copies handed out before keep their bytes.
    m_data = QByteArray();
}

bool TkitCustomFileStorage::LoadFrom(const QString& fileName)
{
    bool result = false;
    const FinalReport report(m_onLoad, this, result);
    Clear();
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.exists() || info.isDir())
        return false;
    // Only a regular file is opened: a FIFO would block, a device never end.
    if (!info.isFile() || info.size() > kMaxSize)
        throw EkitFileStorage(LoadError(fileName));
    QFile file(fileName);
    QByteArray bytes;
    if (!file.open(QIODevice::ReadOnly) || !ReadExactly(file, file.size(), bytes) || !file.atEnd())
        throw EkitFileStorage(LoadError(fileName));
    m_data = bytes;
    result = true;
    return result;
}

bool TkitCustomFileStorage::SaveTo(const QString& fileName)
{
    bool result = false;
    const FinalReport report(m_onSave, this, result);
    if (QFileInfo::exists(fileName)) {
        bool overrideFile = true;
        if (m_onConfirmOverride)
            m_onConfirmOverride(this, overrideFile);
        if (!overrideFile)
            return false;
    }
    if (fileName.isEmpty())
        throw EkitFileStorage(SaveError(fileName));
    // Written beside the target and renamed over it: the old file stays whole until the
    // new one is complete.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_data) != m_data.size() || !file.commit())
        throw EkitFileStorage(SaveError(fileName));
    result = true;
    return result;
}

void TkitCustomFileStorage::ReadData(QIODevice& stream)
{
    Clear();
    QByteArray sizeBytes;
    if (!ReadExactly(stream, 4, sizeBytes))
        throw EkitFileStorage("The stored data ends before its size");
    const quint32 size = qFromLittleEndian<quint32>(sizeBytes.constData());
    if (size == 0)
        return;
    QByteArray bytes;
    if (!ReadExactly(stream, size, bytes))
        throw EkitFileStorage("The stored data holds fewer bytes than its size says (" +
                              std::to_string(size) + ")");
    m_data = bytes;
}

void TkitCustomFileStorage::WriteData(QIODevice& stream) const
{
    char sizeBytes[4];
    qToLittleEndian<quint32>(DataSize(), sizeBytes);
    if (stream.write(sizeBytes, 4) != 4 || (!m_data.isEmpty() && stream.write(m_data) != m_data.size()))
        throw EkitFileStorage("The stored data cannot be written: " + stream.errorString().toStdString());
}

void TkitCustomFileStorage::Loaded()
{
    if (m_autoSave)
        Save();
}

} // namespace morvane
