#pragma once

#include "support/TkitComponent.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

class QIODevice;

namespace morvane {

// Raised when stored bytes cannot be loaded or saved; the text names the file.
class EkitFileStorage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Keeps the bytes of a file with the component: LoadFrom reads a file into it, SaveTo
// writes them out (to a temporary file renamed over the target, so a failed save never
// destroys the old file), ReadData and WriteData carry them in the stored form (a 32-bit
// little-endian size, then the bytes). With AutoSave the bytes are written to SaveName
// once the component is loaded. Files of 4 GiB and more cannot be kept. Main thread.
class TkitCustomFileStorage : public TkitComponent
{
    Q_OBJECT

public:
    using FileOperationEvent = std::function<void(QObject* sender, bool successful)>;
    using ConfirmOverrideEvent = std::function<void(QObject* sender, bool& overrideFile)>;

    explicit TkitCustomFileStorage(QObject* owner = nullptr);
    ~TkitCustomFileStorage() override;

    // True when the file was read. A missing file empties the component and gives false;
    // a file that cannot be read empties it and throws EkitFileStorage. OnLoad runs in
    // every case.
    virtual bool LoadFrom(const QString& fileName);
    // True when the file was written; false when OnConfirmOverride refused to replace it.
    // Throws EkitFileStorage when it cannot be written. OnSave runs in every case.
    virtual bool SaveTo(const QString& fileName);
    bool Load() { return LoadFrom(m_fileName); }
    bool Save() { return SaveTo(m_saveName); }

    // The stored form. ReadData empties the component and throws EkitFileStorage when the
    // stream ends before the size or before the bytes it announces.
    virtual void ReadData(QIODevice& stream);
    virtual void WriteData(QIODevice& stream) const;

    bool AutoSave() const { return m_autoSave; }
    virtual void SetAutoSave(bool value) { m_autoSave = value; }
    const QString& FileName() const { return m_fileName; }
    virtual void SetFileName(const QString& value) { m_fileName = value; }
    const QString& SaveName() const { return m_saveName; }
    void SetSaveName(const QString& value) { m_saveName = value; }
    std::uint32_t DataSize() const { return static_cast<std::uint32_t>(m_data.size()); }
    // The size follows the data; setting it does nothing.
    void SetDataSize(std::uint32_t) {}
    // The stored bytes. The array is shared on copy, so a holder of a copy keeps its bytes
    // whatever the component does later.
    const QByteArray& Data() const { return m_data; }
    virtual void Clear();

    void SetOnLoad(FileOperationEvent handler) { m_onLoad = std::move(handler); }
    void SetOnSave(FileOperationEvent handler) { m_onSave = std::move(handler); }
    void SetOnConfirmOverride(ConfirmOverrideEvent handler) { m_onConfirmOverride = std::move(handler); }

    // Saves when AutoSave is set (and throws as SaveTo does).
    virtual void Loaded();

    static constexpr qint64 kMaxSize = 0xFFFFFFFFLL;

private:
    QByteArray m_data;
    bool m_autoSave = false;
    QString m_fileName;
    QString m_saveName;
    FileOperationEvent m_onLoad;
    FileOperationEvent m_onSave;
    ConfirmOverrideEvent m_onConfirmOverride;
};

class TkitFileStorage : public TkitCustomFileStorage
{
    Q_OBJECT
public:
    using TkitCustomFileStorage::TkitCustomFileStorage;
};

} // namespace morvane
