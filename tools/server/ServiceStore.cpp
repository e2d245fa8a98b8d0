#include "tools/server/ServiceStore.h"

#include <algorithm>

StoredMachine* ServiceState::FindMachine(ULONGLONG id)
{
    auto found = std::find_if(machines.begin(), machines.end(),
                              [&](const StoredMachine& machine) { return machine.id == id; });
    return found != machines.end() ? &*found : nullptr;
}

StoredMachine* ServiceState::FindMachineByName(const std::u16string& name)
{
    auto found = std::find_if(machines.begin(), machines.end(),
                              [&](const StoredMachine& machine) { return machine.name == name; });
    return found != machines.end() ? &*found : nullptr;
}

StoredVolume* ServiceState::FindVolume(ULONGLONG machineId, ULONGLONG volumeCode)
{
    StoredMachine* machine = FindMachine(machineId);
    if (machine == nullptr)
        return nullptr;
    auto found = std::find_if(machine->volumes.begin(), machine->volumes.end(),
                              [&](const StoredVolume& volume) { return volume.code == volumeCode; });
    return found != machine->volumes.end() ? &*found : nullptr;
}

bool ServiceState::IsUserNameTaken(const std::u16string& name) const
{
    return std::find(userNames.begin(), userNames.end(), name) != userNames.end();
}
