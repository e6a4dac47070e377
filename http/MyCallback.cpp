#include "http/MyCallback.h"

int32_t CMyCallback::OnProgress(uint32_t context, int32_t status, double total, double done) {
    if (!progress)
        return 0;
    return progress(context, status, total, done);
}
