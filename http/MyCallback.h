// The program's progress receiver: forwards every notification to a plain
// function, or ignores it while none is set.
#pragma once

#include "http/IHttp.h"

class CMyCallback : public IHttpCallback {
public:
    using ProgressFunction = int32_t (*)(uint32_t context, int32_t status, double total,
                                         double done);

    int32_t OnProgress(uint32_t context, int32_t status, double total, double done) override;
    bool IsAborted() override { return false; }

    ProgressFunction progress = nullptr;
};
