// The exports that manage the member behind a channel: user names and passwords, the
// member's extended information and the account's address, statistics, deletion and
// cancellation, the lists of cancellation reasons and products, and a machine's plan.
#include "kelvane.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "api/ReplyBuffer.h"
#include "connection/Csocketclient.h"
#include "platform/format.h"
#include "util/Cutil.h"

namespace {

constexpr void* kNoBuffer = nullptr;

// The records of the cancellation reasons and of the products: a text, 12 fixed bytes, a
// text, 32 fixed bytes, a text.
constexpr RecordPart kCountedListRecord[] = {kTextPart, FixedPart(12), kTextPart,
                                             FixedPart(32), kTextPart};
// Both lists start with the result word, the status word and the count word.
constexpr DWORD kCountedListHeader = 12;

// The statistics: the result word at 0, the count at 20, records of 24 bytes from 24.
constexpr DWORD kStatsCountOffset = 20;
constexpr DWORD kStatsHeader = 24;
constexpr RecordPart kStatsParts[] = {FixedPart(24)};

// The price follows a product's name.
constexpr DWORD kPriceSize = 8;
// The level of the channel's message about a malformed reply.
constexpr INT kMalformedLogLevel = 30;

void LogPasswordFilled(ExportFrame& frame, const char16_t* password)
{
    if (!IsEmptyText(password))
        frame.Info(u"password is filled.");
}

// A product as one line of the list.
struct Product {
    std::u16string name;
    int64_t price = 0;
};

// Reads the name and price of the products of a list whose records have been measured.
// False when a name does not fit the working buffer or is no UTF-8 text.
bool ReadProducts(const ReplyBuffer& reply, DWORD count, std::vector<Product>* products)
{
    const auto* bytes = static_cast<const BYTE*>(reply.Payload());
    DWORD position = kCountedListHeader;
    for (DWORD record = 0; record < count; ++record) {
        DWORD nameSize = 0;
        reply.ReadWord(position, &nameSize);
        if (nameSize >= kHostTextCapacity)
            return false;
        char narrow[kHostTextCapacity] = {};
        char16_t name[kHostTextCapacity] = {};
        std::memcpy(narrow, bytes + position + kReplyWordSize, nameSize);
        if (Cutil::Utf8ToWide(narrow, name, kHostTextCapacity) == 0)
            return false;
        Product product{name, 0};
        std::memcpy(&product.price, bytes + position + kReplyWordSize + nameSize, kPriceSize);
        products->push_back(product);
        reply.MeasureRecords(position, 1, kCountedListRecord, &position);
    }
    return true;
}

// A list reply whose records run past its end: the channel's log says so.
void LogMalformedList(Csocketclient& channel, const char* command)
{
    channel.LogA(CTransport::kTypeError, kMalformedLogLevel,
                 FormatString("%s: reply malformed", command).c_str());
}

} // namespace

extern "C" {

int32_t CheckUsername(Csocketclient* channel, const char16_t* username, uint32_t* reasoncode)
{
    return ExportFrame::Run(u"CheckUsername", u"1236", 0, [&](ExportFrame& frame) {
        frame.Var(u"username", username);
        if (channel == nullptr)
            return frame.Return(u"1252", 0);
        uint32_t reasonScratch = 0;
        reasoncode = OutOrScratch(reasoncode, reasonScratch);
        auto result = static_cast<int32_t>(channel->CheckUsername(username, reasoncode));
        if (result == 0) {
            frame.Var(u"reasoncode", *reasoncode);
            frame.Error(1248, u"Check user name failed.");
        }
        return frame.Return(u"1252", result);
    });
}

int32_t UpdateUsernamePassword(Csocketclient* channel, const char16_t* memberauth,
                               const char16_t* username, const char16_t* password,
                               uint32_t* reasonCode)
{
    return ExportFrame::Run(u"UpdateUsernamePassword", u"604", 0, [&](ExportFrame& frame) {
        frame.Var(u"memberauth", memberauth);
        frame.Var(u"username", username);
        if (channel == nullptr)
            return frame.Return(u"622", 0);
        uint32_t reasonScratch = 0;
        reasonCode = OutOrScratch(reasonCode, reasonScratch);
        bool updated = channel->UpdateUsernamePassword(memberauth, username, password, reasonCode);
        return frame.Return(u"622", Outcome(frame, updated, u"reasonCode", *reasonCode, 618,
                                            u"Unable to update member information"));
    });
}

int32_t GetMemberExtendedInformation(Csocketclient* channel, char16_t* text1, char16_t* text2,
                                     char16_t* text3, char16_t* text4, char16_t* text5,
                                     char16_t* text6, uint64_t* value1, uint64_t* value2,
                                     uint32_t* Suspended, uint32_t* Cancelled, uint32_t* Deleted,
                                     uint32_t* Activated, uint32_t* value3)
{
    return ExportFrame::Run(u"GetMemberExtendedInformation", u"1980", 0, [&](ExportFrame& frame) {
        if (!RequireLoggedInChannel(frame, channel, 2010, 2005))
            return frame.Return(u"2013", 0);
        char16_t textScratch[6][kHostTextCapacity] = {};
        uint64_t wideScratch[2] = {};
        uint32_t wordScratch[5] = {};
        uint32_t dropped = 0;
        Suspended = OutOrScratch(Suspended, wordScratch[0]);
        Cancelled = OutOrScratch(Cancelled, wordScratch[1]);
        Deleted = OutOrScratch(Deleted, wordScratch[2]);
        Activated = OutOrScratch(Activated, wordScratch[3]);
        BOOL read = channel->GetMemberInfo(
            OutOrScratch(text1, textScratch[0]), OutOrScratch(text2, textScratch[1]),
            OutOrScratch(text3, textScratch[2]), OutOrScratch(text4, textScratch[3]),
            OutOrScratch(text5, textScratch[4]), OutOrScratch(text6, textScratch[5]),
            OutOrScratch(value1, wideScratch[0]), OutOrScratch(value2, wideScratch[1]), Suspended,
            Cancelled, Deleted, Activated, OutOrScratch(value3, wordScratch[4]), &dropped);
        frame.Var(u"Suspended", *Suspended);
        frame.Var(u"Cancelled", *Cancelled);
        frame.Var(u"Activated", *Activated);
        frame.Var(u"Deleted", *Deleted);
        return frame.Return(
            u"2013", Outcome(frame, read, 1999, u"Unable to get extended member information"));
    });
}

int32_t UpdateMemberExtendedInfo(Csocketclient* channel, const char16_t* username,
                                 const char16_t* password, const char16_t* email,
                                 const char16_t* language, const char16_t* firstname,
                                 const char16_t* lastname, const char16_t* phone)
{
    return ExportFrame::Run(u"UpdateMemberExtendedInfo", u"2026", 0, [&](ExportFrame& frame) {
        frame.Var(u"username", username);
        LogPasswordFilled(frame, password);
        frame.Var(u"email", email);
        frame.Var(u"language", language);
        frame.Var(u"firstname", firstname);
        frame.Var(u"lastname", lastname);
        frame.Var(u"phone", phone);
        if (!RequireLoggedInChannel(frame, channel, 2062, 2057))
            return frame.Return(u"2065", 0);
        bool updated = channel->UpdateMemberExtendedInfo(username, password, email, language,
                                                         firstname, lastname, phone);
        return frame.Return(u"2065", Outcome(frame, updated, 2052,
                                             u"Unable to updated extended member information."));
    });
}

int32_t GetAccountInformation(Csocketclient* channel, char16_t* name, char16_t* address1,
                              char16_t* address2, char16_t* city, char16_t* province,
                              char16_t* postal, char16_t* country, char16_t* phone)
{
    return ExportFrame::Run(u"GetAccountInformation", u"2079", 0, [&](ExportFrame& frame) {
        if (!RequireLoggedInChannel(frame, channel, 2101, 2096))
            return frame.Return(u"2104", 0);
        char16_t scratch[8][kHostTextCapacity] = {};
        bool read = channel->GetAccountInfo(
            OutOrScratch(name, scratch[0]), OutOrScratch(address1, scratch[1]),
            OutOrScratch(address2, scratch[2]), OutOrScratch(city, scratch[3]),
            OutOrScratch(province, scratch[4]), OutOrScratch(postal, scratch[5]),
            OutOrScratch(country, scratch[6]), OutOrScratch(phone, scratch[7]));
        return frame.Return(u"2104",
                            Outcome(frame, read, 2091, u"Unable to get account information."));
    });
}

int32_t UpdateAccountInformation(Csocketclient* channel, const char16_t* name,
                                 const char16_t* address1, const char16_t* address2,
                                 const char16_t* city, const char16_t* province,
                                 const char16_t* postal, const char16_t* country,
                                 const char16_t* phone)
{
    return ExportFrame::Run(u"UpdateAccountInformation", u"2190", 0, [&](ExportFrame& frame) {
        frame.Var(u"name", name);
        frame.Var(u"address1", address1);
        frame.Var(u"address2", address2);
        frame.Var(u"city", city);
        frame.Var(u"province", province);
        frame.Var(u"postal", postal);
        frame.Var(u"country", country);
        frame.Var(u"phone", phone);
        if (!RequireLoggedInChannel(frame, channel, 2223, 2218))
            return frame.Return(u"2226", 0);
        bool updated = channel->UpdateAccountInfo(name, address1, address2, city, province,
                                                  postal, country, phone);
        return frame.Return(
            u"2226", Outcome(frame, updated, 2213, u"Unable to update account information."));
    });
}

// Its trace has no exit line number and no result on any way out.
int32_t UpdateUserInformation(Csocketclient* channel, const char16_t* username,
                              const char16_t* password, const char16_t* emailaddress,
                              const char16_t* language, const char16_t* firstname,
                              const char16_t* lastname, const char16_t* phonenumber,
                              uint32_t* reasoncode)
{
    return ExportFrame::Run(u"UpdateUserInformation", u"2240", 0, [&](ExportFrame& frame) {
        frame.Var(u"username", username);
        LogPasswordFilled(frame, password);
        frame.Var(u"emailaddress", emailaddress);
        frame.Var(u"language", language);
        frame.Var(u"firstname", firstname);
        frame.Var(u"lastname", lastname);
        frame.Var(u"phonenumber", phonenumber);
        if (!RequireLoggedInChannel(frame, channel, 2277, 2272))
            return 0;
        uint32_t reasonScratch = 0;
        reasoncode = OutOrScratch(reasoncode, reasonScratch);
        bool modified = channel->CreateAccount(username, password, emailaddress, language,
                                               firstname, lastname, phonenumber, reasoncode);
        return Outcome(frame, modified, u"reasoncode", *reasoncode, 2267,
                       u"Unable to modify member.");
    });
}

// Its trace has no exit line number and no result on any way out.
void* GetMemberStats(Csocketclient* channel, uint32_t* count, uint32_t* size)
{
    return ExportFrame::Run(u"GetMemberStats", u"2914", kNoBuffer, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return kNoBuffer;
        ReplyBuffer reply;
        if (!channel->GetMemberStats(reply.Out(), reply.LengthOut())) {
            frame.Error(2920, u"Get member stats failed.");
            return kNoBuffer;
        }
        DWORD result = 0;
        reply.ReadWord(0, &result);
        if (result == 0) {
            frame.Warning(u"No member stats.");
            return kNoBuffer;
        }
        DWORD items = 0;
        DWORD bytes = 0;
        if (!reply.ReadWord(kStatsCountOffset, &items) ||
            !reply.MeasureRecords(kStatsHeader, items, kStatsParts, &bytes)) {
            frame.Warning(kReplyRecordsOverrun);
            frame.Error(2920, u"Get member stats failed.");
            return kNoBuffer;
        }
        frame.Warning(u"Member stats found.");
        uint32_t countScratch = 0;
        uint32_t sizeScratch = 0;
        *OutOrScratch(count, countScratch) = items;
        frame.Var(u"count", items);
        *OutOrScratch(size, sizeScratch) = bytes;
        return reply.HandOver();
    });
}

int32_t DeleteMember(Csocketclient* channel, const char16_t* username)
{
    return ExportFrame::Run(u"DeleteMember", u"3014", 0, [&](ExportFrame& frame) {
        frame.Var(u"username", username);
        if (!RequireLoggedInChannel(frame, channel, 3038, 3033))
            return frame.Return(u"3041", 0);
        auto result = static_cast<int32_t>(channel->DeleteMember(username));
        if (result == 0)
            frame.Error(3028, u"Delete member failed.");
        return frame.Return(u"3041", result);
    });
}

int32_t CancelAccount(Csocketclient* channel, const char16_t* servicetag, uint32_t reason,
                      uint32_t* confirmcode)
{
    return ExportFrame::Run(u"CancelAccount", u"3047", 0, [&](ExportFrame& frame) {
        frame.Var(u"servicetag", servicetag);
        frame.Var(u"reason", reason);
        if (!RequireLoggedInChannel(frame, channel, 3072, 3067))
            return frame.Return(u"3075", 0);
        uint32_t confirmScratch = 0;
        confirmcode = OutOrScratch(confirmcode, confirmScratch);
        bool cancelled = channel->CancelAccount(servicetag, reason, confirmcode);
        return frame.Return(u"3075", Outcome(frame, cancelled, u"confirmcode", *confirmcode, 3062,
                                             u"Cancel account failed."));
    });
}

void* CancellationReasons(Csocketclient* channel, const char16_t* text, uint32_t value,
                          uint32_t* count, uint32_t* size, uint32_t* status)
{
    return RunUntraced(kNoBuffer, [&]() -> void* {
        uint32_t sizeScratch = 0;
        size = OutOrScratch(size, sizeScratch);
        *size = 0;
        if (channel == nullptr || !channel->IsConnected())
            return kNoBuffer;
        uint32_t statusScratch = 0;
        DWORD items = 0;
        ReplyBuffer reply;
        if (!channel->CancellationReasons(text, value, reply.Out(), &items,
                                          OutOrScratch(status, statusScratch),
                                          reply.LengthOut()))
            return kNoBuffer;
        uint32_t countScratch = 0;
        count = OutOrScratch(count, countScratch);
        if (items == 0) {
            *count = 0;
            return kNoBuffer;
        }
        DWORD bytes = 0;
        if (!reply.MeasureRecords(kCountedListHeader, items, kCountedListRecord, &bytes)) {
            LogMalformedList(*channel, "CancellationReasons");
            return kNoBuffer;
        }
        *count = items;
        *size = bytes;
        return reply.HandOver();
    });
}

// Prints the products on standard output; nothing of the list reaches the host.
int32_t ProductList(Csocketclient* channel, const char16_t* text, uint32_t value,
                    uint32_t needAuth)
{
    return RunUntraced(0, [&]() {
        if (channel == nullptr)
            return 1;
        if (!channel->IsConnected() || (needAuth != 0 && !channel->IsAuthenticated()))
            return 0;
        DWORD items = 0;
        DWORD status = 0;
        ReplyBuffer reply;
        if (!channel->ProductList(text, value, needAuth, reply.Out(), &items, &status,
                                  reply.LengthOut()))
            return 0;
        DWORD bytes = 0;
        std::vector<Product> products;
        if (!reply.MeasureRecords(kCountedListHeader, items, kCountedListRecord, &bytes) ||
            !ReadProducts(reply, items, &products)) {
            LogMalformedList(*channel, "ProductList");
            return 0;
        }
        for (const Product& product : products) {
            std::string line = FormatString("Products> name[%s] price[%I64d]\n", product.name,
                                            product.price);
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        return 1;
    });
}

bool SetMachinePlanEx(Csocketclient* channel, const char16_t* text1, const char16_t* text2,
                      const char16_t* text3, const char16_t* text4, uint32_t value1,
                      uint32_t value2)
{
    return RunUntraced(false, [&]() {
        return channel != nullptr &&
               channel->SetMachinePlan(text1, text2, text3, text4, value1, value2) == 1;
    });
}

int32_t CreateAccount(void)
{
    return ExportFrame::Run(u"CreateAccount", u"2471", 0, [&](ExportFrame& frame) {
        frame.Error(2472, u"Obsolete Method.");
        return frame.Return(u"2474", 0);
    });
}

} // extern "C"
