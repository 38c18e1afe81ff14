#pragma once
// The bytes of one clipboard target as a snapshot holds them. Small data stays in memory; large
// data goes to a private temporary file that is unlinked the moment it is made (so nothing is
// left behind, whatever ends the process) and closed when the last copy of the data goes.
// Copies share the bytes. Read-only once built: any thread may read it.
#include <QByteArray>
#include <QString>
#include <memory>

namespace lomex {

class ClipboardData {
public:
    ClipboardData() = default;
    ClipboardData(QByteArray bytes) : memory_(std::move(bytes)), size_(memory_.size()) {}
    ClipboardData(const char* bytes) : ClipboardData(QByteArray(bytes)) {}

    qint64 size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    bool inFile() const { return file_ != nullptr; }
    // Up to `length` bytes from `offset`; fewer at the end, or when the file cannot be read.
    QByteArray read(qint64 offset, qint64 length) const;
    // All of it at once: for small data (and tests).
    QByteArray bytes() const { return read(0, size_); }

private:
    friend class ClipboardDataWriter;
    struct File;
    QByteArray memory_;
    std::shared_ptr<const File> file_;
    qint64 offset_ = 0;
    qint64 size_ = 0;
};

// Builds the data of a snapshot's targets as their pieces arrive, one target at a time. A target
// stays in memory while it and all kept in memory are small; past that it moves to one spill
// file shared by the snapshot's targets. Used by one thread.
class ClipboardDataWriter {
public:
    // A target larger than this goes to the file; so does one that would take the memory held
    // by the snapshot past memoryTotalBytes.
    static constexpr qint64 memoryTargetBytes = 4 << 20;
    static constexpr qint64 memoryTotalBytes = 8 << 20;

    // folder: where the spill file is made; empty: the runtime folder, else the temp folder.
    explicit ClipboardDataWriter(QString folder = {});
    ~ClipboardDataWriter();
    ClipboardDataWriter(const ClipboardDataWriter&) = delete;
    ClipboardDataWriter& operator=(const ClipboardDataWriter&) = delete;

    // Adds the next piece of the current target; false when it could not be kept (the spill
    // file cannot be made or written: a full disk). The target is then to be dropped.
    bool append(const char* data, qint64 size);
    // The current target's bytes; the next append starts a new target.
    ClipboardData finish();
    // Forgets the current target's pieces (and gives their room in the file back).
    void drop();

private:
    bool spill();

    QString folder_;
    std::shared_ptr<ClipboardData::File> file_;
    QByteArray memory_;
    bool inFile_ = false;
    qint64 start_ = 0; // where the current target begins in the file
    qint64 end_ = 0;   // where the file's content ends
    qint64 memoryHeld_ = 0;
};

} // namespace lomex
