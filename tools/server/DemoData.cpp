#include "tools/server/DemoData.h"

namespace {

StoredVolume DemoVolume(ULONGLONG code, const std::u16string& label, ULONGLONG firstFolder)
{
    StoredVolume volume;
    volume.code = code;
    volume.label = label;
    volume.used = 3 * 1024 * 1024;
    const ULONGLONG documents = firstFolder + 1;
    StoredEntry folder{.name = u"Documents", .isFolder = true, .folderCode = documents};
    StoredEntry settings{u"settings.ini", false, firstFolder, code * 100 + 1, 812, 1700000000,
                         0x20, {{code * 1000 + 1, 812, 1700000000}}};
    volume.folders[firstFolder] = StoredFolder{u"\\", {folder, settings}};
    StoredEntry budget{u"budget.xlsx", false, documents, code * 100 + 2, 48213, 1700500000, 0x20,
                       {{code * 1000 + 2, 40110, 1700000000}, {code * 1000 + 3, 48213, 1700500000}}};
    StoredEntry letter{u"letter.docx", false, documents, code * 100 + 3, 15320, 1700200000, 0x20,
                       {{code * 1000 + 4, 15320, 1700200000}}};
    volume.folders[documents] = StoredFolder{u"\\Documents\\", {budget, letter}};
    return volume;
}

}  // namespace

StoredMachine SampleMachine(ULONGLONG id, const std::u16string& name, const std::u16string& host)
{
    StoredMachine machine;
    machine.id = id;
    machine.name = name;
    machine.active = 1;
    machine.system = u"Windows 10";
    machine.used = 6 * 1024 * 1024;
    machine.lastBackup = 1700600000;
    machine.hostName = host;
    machine.plan = 2;
    machine.location = u"eu-west";
    machine.quota = 50ull * 1024 * 1024 * 1024;
    machine.created = 1690000000;
    machine.key = "demo-key-" + std::to_string(id);
    return machine;
}

void FillDemoData(ServiceState& state)
{
    StoredMember& member = state.member;
    member.userName = u"demo";
    member.password = u"demo";
    member.email = u"demo@example.org";
    member.language = u"en";
    member.firstName = u"Dana";
    member.lastName = u"Demo";
    member.phone = u"+1 555 0100";
    member.memberAuth = "demo-member-auth";
    const std::u16string extended[6] = {u"demo", u"Dana", u"Demo", u"demo@example.org", u"en",
                                        u"+1 555 0100"};
    std::copy(std::begin(extended), std::end(extended), member.extendedTexts);
    member.extendedA = 50ull * 1024 * 1024 * 1024;
    member.extendedB = 12 * 1024 * 1024;
    const std::u16string account[8] = {u"Dana Demo", u"1 Example Road", u"", u"Springfield",
                                       u"OR",        u"97477",          u"US", u"+1 555 0100"};
    std::copy(std::begin(account), std::end(account), member.accountTexts);
    member.statBytes = 12 * 1024 * 1024;
    member.statFiles = 5;
    member.stats = {{1700000000, 4 * 1024 * 1024, 3}, {1700500000, 8 * 1024 * 1024, 2}};
    state.userNames = {u"demo"};

    StoredMachine office = SampleMachine(501, u"Office PC", u"office");
    office.volumes.push_back(DemoVolume(7, u"C:", 1));
    StoredMachine laptop = SampleMachine(502, u"Laptop", u"laptop");
    laptop.volumes.push_back(DemoVolume(8, u"C:", 10));
    state.machines = {office, laptop};
    state.activeMachine = office.id;

    state.reasons = {{1, u"Too expensive", u"The price does not fit my budget.", u""},
                     {2, u"Moving to another service", u"", u"Which one?"}};
    state.products = {{1, "Disk", 1999, "50 GB of backup space", 50, 12, "USD"},
                      {2, "Vault", 4999, "500 GB of backup space", 500, 12, "USD"}};
    state.bucket = StoredBucket{50ull * 1024 * 1024 * 1024, 12 * 1024 * 1024, 1735689600,
                                {1, 0, 0, 0, 0, 0}, "PUR-1001", "SUB-2002", 0};
    state.lastRestore[0] = 1700600000;
    state.lastRestore[1] = 48213;
    state.lastRestore[2] = 1;
    state.webPortalEnabled = 1;
    state.cancelConfirmation = 4711;
}
