#include "data/TagDbf.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>

#include "platform/Gbk.h"
#include "platform/LittleEndian.h"
#include "platform/SysTime.h"

namespace zz {

namespace {

bool ReadAt(int fd, void* buf, size_t n, int64_t off) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = pread(fd, (char*)buf + done, n - done, off + int64_t(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

bool WriteAt(int fd, const void* buf, size_t n, int64_t off) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = pwrite(fd, (const char*)buf + done, n - done, off + int64_t(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

// Lines of this process and other programs append to the same table: one writer at a time per file.
class FileLock {
public:
    explicit FileLock(int fd) : fd_(fd) {
        while (flock(fd_, LOCK_EX) < 0 && errno == EINTR) {
        }
    }
    ~FileLock() { flock(fd_, LOCK_UN); }

private:
    int fd_;
};

} // namespace

// Records are read and written at their offsets through the descriptor (pread, pwrite): the stream's own
// buffer is never used, so it cannot hold stale bytes of a record another line wrote.
TagDbf::TagDbf(const std::string& p) : path(p) {
    file = FileHandle::Open(path.c_str(), "r+b");
    if (!file && (errno == EACCES || errno == EROFS)) file = FileHandle::Open(path.c_str(), "rb");
    if (!file) {
        status = -5;
        return;
    }
    fd = fileno(file.get());
    status = Load();
    if (status != 0) {
        file.Close();
        fd = -1;
    }
}

TagDbf::~TagDbf() = default;

// Reads the header and the field descriptors, refusing anything that would put a field outside the record.
int TagDbf::Load() {
    if (!ReadAt(fd, header, sizeof header, 0)) return -5;
    if (header[0] != 0x03 && header[0] != 0x83) return -7;
    headerLen = GetLe16(header + 8);
    recordLen = GetLe16(header + 10);
    if (headerLen < 33 || recordLen < 1) return -7;
    size_t n = size_t(headerLen - 1) / 32 - 1;
    std::vector<unsigned char> desc(n * 32);
    if (n && !ReadAt(fd, desc.data(), desc.size(), 32)) return -7;
    int32_t offset = 1;
    for (size_t i = 0; i < n; i++) {
        const unsigned char* d = desc.data() + i * 32;
        if (d[0] == 0x0D) break; // terminator: the header holds fewer descriptors than its length allows
        Field f;
        size_t len = 0;
        while (len < 11 && d[len])
            len++;
        if (len == 0) return -7;
        for (size_t k = 0; k < len; k++)
            if (d[k] < 0x20 || d[k] == 0x7F) return -7;
        f.name.assign((const char*)d, len);
        f.type = char(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        f.offset = offset;
        offset += f.length;
        if (offset > recordLen) return -7;
        fields.push_back(std::move(f));
    }
    record.assign(size_t(recordLen) + 1, ' ');
    record[recordLen] = '\0';
    return 0;
}

int TagDbf::FindField(std::string_view name, bool exact) const {
    for (size_t i = 0; i < fields.size(); i++) {
        if (exact ? fields[i].name == name : GbkEqualNoCase(fields[i].name, name)) return int(i);
    }
    return -1;
}

int TagDbf::ReadHeader() {
    if (fd < 0) return -1;
    unsigned char h[32];
    if (!ReadAt(fd, h, sizeof h, 0)) return -2;
    // The descriptors were read once: a header that now describes other records is not ours to follow.
    if (GetLe16(h + 8) != headerLen || GetLe16(h + 10) != recordLen) return -2;
    memcpy(header, h, sizeof h);
    return 0;
}

uint32_t TagDbf::RecordCount() const {
    return GetLe32(header + 4);
}

int TagDbf::ReadRecord(int64_t r) {
    int rc = ReadHeader();
    if (rc < 0) return rc;
    if (r < 1 || r > int64_t(RecordCount())) return -4;
    int64_t off = int64_t(headerLen) + int64_t(recordLen) * (r - 1);
    if (!ReadAt(fd, record.data(), recordLen, off)) return -2;
    for (size_t i = 0; i < recordLen; i++)
        if (record[i] == '\0') record[i] = ' ';
    record[recordLen] = '\0';
    return int(r);
}

std::string_view TagDbf::FieldValue(int i) const {
    const Field& f = fields[size_t(i)];
    return std::string_view(record.data() + f.offset, size_t(f.length));
}

int TagDbf::PutValue(std::string_view name, std::string_view value) {
    int i = FindField(name, true);
    if (i < 0 || value.size() > size_t(kMaxValueLen)) return -1;
    const Field& f = fields[size_t(i)];
    size_t n = value.size() <= size_t(f.length) ? value.size() : GbkSafeCut(value, size_t(f.length));
    char* cell = record.data() + f.offset;
    memset(cell, ' ', size_t(f.length) - n);
    memcpy(cell + (size_t(f.length) - n), value.data(), n);
    return 0;
}

int TagDbf::WriteRecord(int64_t r) {
    if (fd < 0) return -1;
    FileLock lock(fd);
    return WriteLocked(r);
}

int TagDbf::WriteLocked(int64_t r) {
    LocalTime now = GetLocalTime();
    int rc = ReadHeader();
    if (rc < 0) return rc;
    uint32_t count = RecordCount();
    int result;
    if (r == -1) {
        if (count >= uint32_t(INT32_MAX)) return -4;
        int64_t off = int64_t(headerLen) + int64_t(recordLen) * count;
        record[recordLen] = 0x1A;
        bool ok = WriteAt(fd, record.data(), size_t(recordLen) + 1, off);
        record[recordLen] = '\0';
        if (!ok) return -3;
        count++;
        PutLe32(header + 4, count);
        result = int(count);
    } else {
        if (r < 1 || r > int64_t(count)) return -4;
        int64_t off = int64_t(headerLen) + int64_t(recordLen) * (r - 1);
        if (!WriteAt(fd, record.data(), recordLen, off)) return -3;
        result = int(r);
    }
    header[1] = (unsigned char)(now.year - 1900);
    header[2] = (unsigned char)now.month;
    header[3] = (unsigned char)now.day;
    if (!WriteAt(fd, header, sizeof header, 0)) return -3;
    return result;
}

} // namespace zz
