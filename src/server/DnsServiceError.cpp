#include "server/DnsServiceError.h"

namespace varnello {

DnsServiceError::DnsServiceError(int errorNumber, std::string text)
    : errorNumber_(errorNumber), text_(std::move(text)),
      message_("Avahi error " + std::to_string(errorNumber_) + ": " + text_) {}

} // namespace varnello
