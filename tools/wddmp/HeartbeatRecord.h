#pragma once

#include <cstdint>
#include <string>

// Read-only view of another process's heartbeat record (a file of 8 bytes in the user's runtime folder,
// mapped shared, holding a signed 64-bit time, 0 after an orderly exit).
class HeartbeatRecord
{
public:
    explicit HeartbeatRecord(const std::string &name);
    ~HeartbeatRecord();

    bool open();
    bool isOpen() const { return m_view != nullptr; }
    int64_t read() const;

    HeartbeatRecord(const HeartbeatRecord &) = delete;
    HeartbeatRecord &operator=(const HeartbeatRecord &) = delete;

private:
    std::string m_path;
    const int64_t *m_view = nullptr;
};
