// Feeds arbitrary bytes to the configuration load. Whatever loads must also
// save, and the saved body must load back to the same body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/Configuration.h"
#include "app/UartSettingsPort.h"

using namespace tovik;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RegisterBuiltInKinds();
    // Port names come from the input: never open a line named by it.
    RegisterUartSettingsPortClass();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TUsers users;
    TProtoPortList ports;
    TDeviceList devices;
    TConfigLists lists{users, ports, devices};
    const TLoadResult result = LoadConfigurationBytes(data, size, lists);
    if (result.Fatal && result.Messages.empty()) std::abort();

    // Whatever was accepted is stored back unchanged.
    TMemoryStream plain;
    if (!BuildPlainBody(lists, plain)) std::abort();
    TMemoryStream file;
    file.WriteU32(kConfigMagic);
    file.WriteU32(result.Seed);
    if (!ScrambleBody(plain, file, result.Seed)) std::abort();
    TUsers users2;
    TProtoPortList ports2;
    TDeviceList devices2;
    TConfigLists lists2{users2, ports2, devices2};
    const TLoadResult again = LoadConfigurationBytes(file.Bytes().data(), file.Size(), lists2);
    if (!again.Messages.empty()) std::abort();
    TMemoryStream plain2;
    if (!BuildPlainBody(lists2, plain2) || plain2.Bytes() != plain.Bytes()) std::abort();
    return 0;
}
