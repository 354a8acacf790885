// A write-only sink that accepts and discards everything; no file is created.
#pragma once

#include "wavfile/WavFileBase.h"

class TWavFileTypeNullRecord : public TWavFileBase {
  public:
    TWavFileTypeNullRecord(const char* name, const char* mode, int32_t* error);
    ~TWavFileTypeNullRecord() override = default;

    int32_t Open(const char* name, uint32_t flags) override;
    int32_t Close() override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Write(const void* data, int32_t count) override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t WriteHeader() override;
    int32_t ReadHeader(int32_t flag) override;
};
