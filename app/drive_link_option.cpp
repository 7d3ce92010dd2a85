#include "app/drive_link_option.h"

#include "app/setup_session.h"
#include "host/zel_modbus_link.h"
#include "host/zel_setup.h"

void DriveLinkOption::AddTo(CLI::App& cmd) {
  cmd.add_option("--drive", address,
                 "The drive at tcp://HOST:PORT[,UNIT] or rtu:DEVICE[,BAUD[,UNIT]] instead of the "
                 "simulated one (docs/drive-link.md)");
}

std::shared_ptr<CZel_DriveLink> DriveLinkOption::Open(const CZel_Setup& setup) const {
  if (!Remote()) return nullptr;
  ZelDriveAddress where;
  std::string error;
  if (!ZelDriveAddress::Parse(address, where, error)) throw CommandError(kExitBadInput, error);
  std::shared_ptr<CZel_ModbusLink> link = CZel_ModbusLink::Open(where, error);
  if (!link) throw CommandError(kExitFailed, error + "; nothing was written to the drive");
  const ZelDriveIdentity& id = link->Identity();
  if (id.product_id != setup.GetProductID() || id.firmware_id != setup.GetFirmwareID())
    throw CommandError(kExitFailed, "the drive at " + address + " is product \"" + id.product_id +
                                        "\" with firmware \"" + id.firmware_id +
                                        "\"; the setup is for product \"" + setup.GetProductID() +
                                        "\" with firmware \"" + setup.GetFirmwareID() +
                                        "\"; nothing was written to the drive");
  return link;
}

void DriveLinkOption::RefuseConditions(const std::vector<std::string>& faults,
                                       const std::vector<std::string>& acts) const {
  if (Remote() && (!faults.empty() || !acts.empty()))
    throw CommandError(kExitBadInput,
                       std::string(faults.empty() ? "--act" : "--fault") +
                           " acts on the simulated drive in this process; the drive at " + address +
                           " takes its faults from `dcservo simdrive`");
}
