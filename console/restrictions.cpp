#include "console/restrictions.h"

#include "core/value_codec.h"

namespace brindlex {

RestrictionFields RestrictionFieldsOf(const AccessRules& rules) {
  RestrictionFields fields;
  for (int column = 0; column < kServiceColumns; ++column) fields.allowed[column] = !rules.protocolDenied[column];
  fields.allowedAfterExceed = rules.allowedAfterExceed;
  fields.maxDocumentMb = FormatNumberText(rules.maxDocumentMb);
  fields.bigTransferMb = FormatNumberText(rules.bigTransferMb);
  fields.bigTransferSpeed = FormatNumberText(rules.bigTransferSpeed);
  fields.finishTransfers = rules.finishTransfers;
  fields.passAuthToParent = rules.passAuthToParent;
  fields.countCacheTraffic = rules.countCacheTraffic;
  fields.prepaid = rules.prepaid;
  fields.dialUpAllowed = !rules.dialUpDenied;
  return fields;
}

std::vector<std::string> ServiceColumnNames() { return {"HTTP", "FTP", "SMTP", "POP3", "SOCKS5", "PortMap"}; }

RestrictionCheck ApplyRestrictionFields(RestrictionFields& fields, AccessRules& rules) {
  struct Number {
    std::string* text;
    RestrictionField field;
    double value = 0;
  };
  std::array<Number, 3> numbers{{{&fields.maxDocumentMb, RestrictionField::kMaxDocumentMb},
                                 {&fields.bigTransferMb, RestrictionField::kBigTransferMb},
                                 {&fields.bigTransferSpeed, RestrictionField::kBigTransferSpeed}}};
  for (Number& number : numbers) {
    EditOutcome outcome = CheckRealField(*number.text, number.value);
    if (!outcome.ok) return {outcome, number.field};
  }
  for (int column = 0; column < kServiceColumns; ++column) rules.protocolDenied[column] = !fields.allowed[column];
  rules.allowedAfterExceed = fields.allowedAfterExceed;
  rules.maxDocumentMb = numbers[0].value;
  rules.bigTransferMb = numbers[1].value;
  rules.bigTransferSpeed = numbers[2].value;
  rules.finishTransfers = fields.finishTransfers;
  rules.passAuthToParent = fields.passAuthToParent;
  rules.countCacheTraffic = fields.countCacheTraffic;
  rules.prepaid = fields.prepaid;
  rules.dialUpDenied = !fields.dialUpAllowed;
  return {};
}

}  // namespace brindlex
