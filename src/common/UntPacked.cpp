#include "UntPacked.h"

#include <limits>
#include <memory>
#include <new>
#include <zstd.h>

namespace {

constexpr int PackLevel = 3;
// The engine refuses windows above this on its own; a base and its data must fit in one.
constexpr int MaxWindowLog = 30;

struct TCCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct TDCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// The smallest window that reaches back over the whole base from the end of the data.
int WindowLogFor(qsizetype bytes) {
    int log = 10;
    while (log < MaxWindowLog && (qsizetype(1) << log) < bytes)
        ++log;
    return log;
}

QByteArray Compress(const QByteArray& data, const QByteArray& base) {
    std::unique_ptr<ZSTD_CCtx, TCCtxFree> cctx(ZSTD_createCCtx());
    ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, PackLevel);
    ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_checksumFlag, 1);
    if (!base.isEmpty()) {
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_windowLog,
                               WindowLogFor(base.size() + data.size()));
        // Long matches against the base are what makes a changed copy small.
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_refPrefix(cctx.get(), base.constData(), size_t(base.size()));
    }
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(data.size()))), Qt::Uninitialized);
    const size_t n = ZSTD_compress2(cctx.get(), out.data(), size_t(out.size()), data.constData(),
                                    size_t(data.size()));
    if (ZSTD_isError(n))
        throw std::bad_alloc();
    out.truncate(qsizetype(n));
    return out;
}

} // namespace

QByteArray Pack(const QByteArray& data) {
    return Compress(data, {});
}

QByteArray PackAgainst(const QByteArray& data, const QByteArray& base) {
    return Compress(data, base);
}

std::optional<QByteArray> Unpack(const QByteArray& packed, const QByteArray& base) {
    const unsigned long long size =
        ZSTD_getFrameContentSize(packed.constData(), size_t(packed.size()));
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN ||
        size > unsigned(std::numeric_limits<int>::max()))
        return std::nullopt;
    std::unique_ptr<ZSTD_DCtx, TDCtxFree> dctx(ZSTD_createDCtx());
    ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, MaxWindowLog);
    if (!base.isEmpty())
        ZSTD_DCtx_refPrefix(dctx.get(), base.constData(), size_t(base.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const size_t n = ZSTD_decompressDCtx(dctx.get(), out.data(), size_t(out.size()),
                                         packed.constData(), size_t(packed.size()));
    if (ZSTD_isError(n) || n != size)
        return std::nullopt;
    return out;
}
