// Status codes the interface raises itself. Codes from -115 on are this library's own additions
// for requests the center must never see: they keep the meaning they have here.
#ifndef QX_INTERFACE_STATUS_CODES_H_
#define QX_INTERFACE_STATUS_CODES_H_

#include <cstdint>

namespace qx::status {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kInitialised = 1;
inline constexpr int32_t kNotInitialised = -3;
inline constexpr int32_t kTransferFailed = -4;
inline constexpr int32_t kNoRequest = -8;
inline constexpr int32_t kRowOutOfRange = -100;
inline constexpr int32_t kRowEmpty = -101;
inline constexpr int32_t kNoSuchItem = -103;
inline constexpr int32_t kUnpackFailed = -106;
inline constexpr int32_t kNoSuchRecordSet = -110;
inline constexpr int32_t kNoFunctionId = -115;       // the request names no FunctionID
inline constexpr int32_t kFunctionIdTooLong = -116;  // longer than 51 bytes
inline constexpr int32_t kChainTooLong = -117;       // the center chained more than 16 calls
inline constexpr int32_t kLoginInfoFailed = -301;
inline constexpr int32_t kUserInfoFailed = -801;

}  // namespace qx::status

#endif  // QX_INTERFACE_STATUS_CODES_H_
