#include "emailaccess/reply_trust.h"

#include "emailaccess/message/authentication_results.h"
#include "emailaccess/message/text_encoding.h"

namespace emailaccess {

std::optional<std::string> WhyNotBelieved(const IncomingMessage& reply, const SentLookup& sent,
                                          const std::string& authservId) {
  static const std::string kUnconfirmed = "the sender could not be confirmed";
  if (!reply.senderIsOneAddress) return kUnconfirmed;
  const ProviderVerdict provider = EvaluateProvider(reply.authenticationResults, authservId);
  if (provider == ProviderVerdict::Fail) return std::string("the provider found the sender forged");
  const SentMailing* other = nullptr;
  const std::string sender = AsciiLower(reply.senderAddress);
  for (const std::string& id : reply.answeredIds) {
    const SentMailing* mailing = sent(id);
    if (!mailing) continue;
    if (AsciiLower(mailing->recipient) == sender) return std::nullopt;
    other = mailing;
  }
  if (provider == ProviderVerdict::Pass) return std::nullopt;
  if (other) return "sent to " + other->recipient + ", answered from " + reply.senderAddress;
  return kUnconfirmed;
}

std::string LeftForReadingLine(const std::string& originator, const std::string& date, const std::string& why) {
  return "Not stored, left for reading: the reply of " + originator + " dated " + date + ": " + why;
}

}  // namespace emailaccess
