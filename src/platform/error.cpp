#include "platform/error.h"

#include <utility>

namespace platform {

std::string StandardDescription(int32_t number) {
  switch (number) {
    case errnum::kInvalidUseOfNull:
      return "Invalid use of Null";
    case errnum::kTypeMismatch:
      return "Type mismatch";
    case errnum::kSubscriptOutOfRange:
      return "Subscript out of range";
    case errnum::kObjectNotSet:
      return "Object variable or With block variable not set";
    case errnum::kClassNotRegistered:
      return "ActiveX component can't create object";
    case errnum::kKeyAlreadyPresent:
      return "This key is already associated with an element of this collection";
    case errnum::kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    case errnum::kOperationNotAllowedClosed:
      return "Operation is not allowed when the object is closed.";
    case errnum::kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. Requested "
             "operation requires a current record.";
    case errnum::kNotFound:
      return "MAPI_E_NOT_FOUND";
    case errnum::kLogonFailed:
      return "MAPI_E_LOGON_FAILED";
    case errnum::kNotInitialized:
      return "MAPI_E_NOT_INITIALIZED";
    case errnum::kAmbiguousRecip:
      return "MAPI_E_AMBIGUOUS_RECIP";
    case errnum::kServerNotOperational:
      return "The server is not operational.";
    case errnum::kNoSuchObject:
      return "There is no such object on the server.";
    case errnum::kPropertyNotFound:
      return "The directory property cannot be found in the cache.";
    case errnum::kBadCommand:
      return "One or more errors occurred during processing of command.";
    default:
      return "";
  }
}

PlatformError::PlatformError(int32_t number) : PlatformError(number, StandardDescription(number)) {}

PlatformError::PlatformError(int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

}  // namespace platform
