// Every status code the system reports, in one place, grouped by who raises it. A host reads them
// from business_handle's result and from the result XML's ErrorNo, and hospital systems compare
// against the numbers: a code, once given, is never renumbered nor given another meaning.
// Texts for them: base/texts.h.
#ifndef QX_BASE_STATUS_CODES_H_
#define QX_BASE_STATUS_CODES_H_

#include <cstdint>

namespace qx::status {

// The interface object: calls, init_handle, business_handle.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kInitialised = 1;
inline constexpr int32_t kNoBusinessCall = -2;  // in the table; raised by nothing today
inline constexpr int32_t kNotInitialised = -3;
inline constexpr int32_t kTransferFailed = -4;  // the exchange with the center failed
inline constexpr int32_t kNoRequest = -8;
// This library's own additions, for requests the center must never see.
inline constexpr int32_t kNoFunctionId = -115;       // the request names no FunctionID
inline constexpr int32_t kFunctionIdTooLong = -116;  // longer than 51 bytes
inline constexpr int32_t kChainTooLong = -117;       // the center chained more than 16 calls

// The message model: the rows of a recordset, unpacking, completing requests.
inline constexpr int32_t kRowOutOfRange = -100;
inline constexpr int32_t kRowEmpty = -101;
inline constexpr int32_t kNoSuchItem = -103;
inline constexpr int32_t kUnpackFailed = -106;  // the DOM failed
inline constexpr int32_t kNoSuchRecordSet = -110;
// The same number as the card binding's kGetStepFailed: the text that travels with it tells which.
inline constexpr int32_t kLoginInfoFailed = -301;  // the request cannot take the login block
inline constexpr int32_t kUserInfoFailed = -801;   // ... nor the user information block

// The card binding: the vendor's entry points, missing or failing.
inline constexpr int32_t kNoICStart = -200;
inline constexpr int32_t kNoICGet = -201;
inline constexpr int32_t kNoICPut = -202;
inline constexpr int32_t kNoICExecute = -203;
inline constexpr int32_t kNoICReset = -204;
inline constexpr int32_t kICStartFailed = -205;
inline constexpr int32_t kICGetFailed = -206;
inline constexpr int32_t kICPutFailed = -207;  // ICPut answered a positive value other than 0
inline constexpr int32_t kWriteDamaged = -208;
inline constexpr int32_t kWriteRestored = -209;
inline constexpr int32_t kICResetFailed = -210;
inline constexpr int32_t kNoICGeterrMsg = -211;
// A failing entry point: the step's code, with the library's own error text.
inline constexpr int32_t kStartStepFailed = -300;
inline constexpr int32_t kGetStepFailed = -301;
inline constexpr int32_t kPutStepFailed = -302;
inline constexpr int32_t kExecuteStepFailed = -303;
inline constexpr int32_t kResetStepFailed = -304;
inline constexpr int32_t kCardNumberDiffers = -320;  // the clerk cancelled after a card swap
inline constexpr int32_t kBalanceRefused = -321;     // overdrawn, or not a number
inline constexpr int32_t kCardSwapped = -305;  // in the binding's table; raised by nothing today
inline constexpr int32_t kOverdrawn = -306;    // in the binding's table; raised by nothing today
inline constexpr int32_t kPasswordFailed = -401;

// Codes the status table has a text for although no step of this library raises them; a card
// outcome may carry them, and hospital systems may know them from elsewhere.
inline constexpr int32_t kCardFailed = -5;
inline constexpr int32_t kNoTransaction = -6;
inline constexpr int32_t kRowTooLarge = -7;
inline constexpr int32_t kNoItemToFind = -102;
inline constexpr int32_t kNullPointer = -104;
inline constexpr int32_t kNoRecordSet = -105;
inline constexpr int32_t kPackFailed = -107;
inline constexpr int32_t kNoData = -108;
inline constexpr int32_t kCannotAddRow = -109;
inline constexpr int32_t kAtLastRow = -111;
inline constexpr int32_t kRecordSetNameNotFound = -112;
inline constexpr int32_t kCardLibraryNotLoaded = -113;
inline constexpr int32_t kSetRecordSetFailed = -114;
inline constexpr int32_t kNotLoggedIn = -300;  // the same number as kStartStepFailed

}  // namespace qx::status

#endif  // QX_BASE_STATUS_CODES_H_
