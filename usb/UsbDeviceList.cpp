#include "usb/UsbDeviceList.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace k350usb {

// The configuration descriptors of one device, copied into the 0.1 API's structures.
struct ConfigurationCopy {
    std::vector<usb_config_descriptor> configs;
    std::vector<std::vector<usb_interface>> interfaces;
    std::vector<std::vector<std::vector<usb_interface_descriptor>>> settings;
    std::vector<std::vector<std::vector<std::vector<usb_endpoint_descriptor>>>> endpoints;
    std::vector<std::vector<unsigned char>> extras;  // each pointed to by one descriptor

    unsigned char* keepExtra(const unsigned char* bytes, int length);
    void copy(const libusb_config_descriptor& from, usb_config_descriptor& to, std::size_t index);
};

struct ListedDevice {
    libusb_device* device = nullptr;  // one reference held while listed
    struct usb_device entry {};
    ConfigurationCopy configuration;
};

namespace {

void copyDescriptor(const libusb_device_descriptor& from, usb_device_descriptor& to) {
    to.bLength = from.bLength;
    to.bDescriptorType = from.bDescriptorType;
    to.bcdUSB = from.bcdUSB;
    to.bDeviceClass = from.bDeviceClass;
    to.bDeviceSubClass = from.bDeviceSubClass;
    to.bDeviceProtocol = from.bDeviceProtocol;
    to.bMaxPacketSize0 = from.bMaxPacketSize0;
    to.idVendor = from.idVendor;
    to.idProduct = from.idProduct;
    to.bcdDevice = from.bcdDevice;
    to.iManufacturer = from.iManufacturer;
    to.iProduct = from.iProduct;
    to.iSerialNumber = from.iSerialNumber;
    to.bNumConfigurations = from.bNumConfigurations;
}

void copyEndpoint(const libusb_endpoint_descriptor& from, usb_endpoint_descriptor& to) {
    to.bLength = from.bLength;
    to.bDescriptorType = from.bDescriptorType;
    to.bEndpointAddress = from.bEndpointAddress;
    to.bmAttributes = from.bmAttributes;
    to.wMaxPacketSize = from.wMaxPacketSize;
    to.bInterval = from.bInterval;
    to.bRefresh = from.bRefresh;
    to.bSynchAddress = from.bSynchAddress;
}

void copySetting(const libusb_interface_descriptor& from, usb_interface_descriptor& to) {
    to.bLength = from.bLength;
    to.bDescriptorType = from.bDescriptorType;
    to.bInterfaceNumber = from.bInterfaceNumber;
    to.bAlternateSetting = from.bAlternateSetting;
    to.bNumEndpoints = from.bNumEndpoints;
    to.bInterfaceClass = from.bInterfaceClass;
    to.bInterfaceSubClass = from.bInterfaceSubClass;
    to.bInterfaceProtocol = from.bInterfaceProtocol;
    to.iInterface = from.iInterface;
}

void fill(ListedDevice& listed, usb_bus* bus) {
    libusb_device* device = listed.device;
    std::snprintf(listed.entry.filename, sizeof listed.entry.filename, "%03u",
                  unsigned(libusb_get_device_address(device)));
    listed.entry.bus = bus;
    listed.entry.dev = device;
    listed.entry.devnum = libusb_get_device_address(device);
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return;
    copyDescriptor(descriptor, listed.entry.descriptor);
    ConfigurationCopy& copy = listed.configuration;
    copy.configs.resize(descriptor.bNumConfigurations);
    copy.interfaces.resize(descriptor.bNumConfigurations);
    copy.settings.resize(descriptor.bNumConfigurations);
    copy.endpoints.resize(descriptor.bNumConfigurations);
    for (std::size_t i = 0; i < copy.configs.size(); ++i) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(device, std::uint8_t(i), &config) != 0) continue;
        copy.copy(*config, copy.configs[i], i);
        libusb_free_config_descriptor(config);
    }
    listed.entry.config = copy.configs.empty() ? nullptr : copy.configs.data();
}

}  // namespace

unsigned char* ConfigurationCopy::keepExtra(const unsigned char* bytes, int length) {
    if (bytes == nullptr || length <= 0) return nullptr;
    extras.emplace_back(bytes, bytes + length);
    return extras.back().data();
}

void ConfigurationCopy::copy(const libusb_config_descriptor& from, usb_config_descriptor& to,
                             std::size_t index) {
    to.bLength = from.bLength;
    to.bDescriptorType = from.bDescriptorType;
    to.wTotalLength = from.wTotalLength;
    to.bNumInterfaces = from.bNumInterfaces;
    to.bConfigurationValue = from.bConfigurationValue;
    to.iConfiguration = from.iConfiguration;
    to.bmAttributes = from.bmAttributes;
    to.MaxPower = from.MaxPower;
    to.extra = keepExtra(from.extra, from.extra_length);
    to.extralen = to.extra ? from.extra_length : 0;
    auto& ifaces = interfaces[index];
    auto& ifaceSettings = settings[index];
    auto& ifaceEndpoints = endpoints[index];
    ifaces.resize(from.bNumInterfaces);
    ifaceSettings.resize(from.bNumInterfaces);
    ifaceEndpoints.resize(from.bNumInterfaces);
    for (int i = 0; i < from.bNumInterfaces; ++i) {
        const libusb_interface& iface = from.interface[i];
        ifaceSettings[i].resize(std::max(iface.num_altsetting, 0));
        ifaceEndpoints[i].resize(ifaceSettings[i].size());
        for (int s = 0; s < iface.num_altsetting; ++s) {
            const libusb_interface_descriptor& setting = iface.altsetting[s];
            usb_interface_descriptor& target = ifaceSettings[i][s];
            copySetting(setting, target);
            auto& eps = ifaceEndpoints[i][s];
            eps.resize(setting.bNumEndpoints);
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                copyEndpoint(setting.endpoint[e], eps[e]);
                eps[e].extra = keepExtra(setting.endpoint[e].extra, setting.endpoint[e].extra_length);
                eps[e].extralen = eps[e].extra ? setting.endpoint[e].extra_length : 0;
            }
            target.endpoint = eps.empty() ? nullptr : eps.data();
            target.extra = keepExtra(setting.extra, setting.extra_length);
            target.extralen = target.extra ? setting.extra_length : 0;
        }
        ifaces[i].altsetting = ifaceSettings[i].empty() ? nullptr : ifaceSettings[i].data();
        ifaces[i].num_altsetting = int(ifaceSettings[i].size());
    }
    to.interface = ifaces.empty() ? nullptr : ifaces.data();
}

UsbDeviceList::UsbDeviceList() = default;

UsbDeviceList::~UsbDeviceList() {
    for (auto& listed : devices_) libusb_unref_device(listed->device);
}

int UsbDeviceList::findBusses(libusb_context* context) {
    return rescan(context).buses;
}

int UsbDeviceList::findDevices(libusb_context* context) {
    return rescan(context).devices;
}

usb_bus* UsbDeviceList::busFor(int number, int& added) {
    for (auto& bus : buses_) {
        if (int(bus->location) == number) return bus.get();
    }
    auto bus = std::make_unique<usb_bus>();
    std::memset(bus.get(), 0, sizeof(usb_bus));
    std::snprintf(bus->dirname, sizeof bus->dirname, "%03d", number);
    bus->location = std::uint32_t(number);
    buses_.push_back(std::move(bus));
    ++added;
    return buses_.back().get();
}

UsbDeviceList::Counts UsbDeviceList::rescan(libusb_context* context) {
    Counts counts;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    std::vector<ListedDevice*> present;
    std::set<ListedDevice*> kept;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        auto known = std::find_if(devices_.begin(), devices_.end(),
                                  [&](const auto& listed) { return listed->device == device; });
        if (known != devices_.end()) {
            kept.insert(known->get());
            present.push_back(known->get());
            continue;
        }
        auto listed = std::make_unique<ListedDevice>();
        listed->device = libusb_ref_device(device);
        usb_bus* bus = busFor(libusb_get_bus_number(device), counts.buses);
        fill(*listed, bus);
        present.push_back(listed.get());
        kept.insert(listed.get());
        devices_.push_back(std::move(listed));
        ++counts.devices;
    }
    for (auto it = devices_.begin(); it != devices_.end();) {
        if (kept.count(it->get())) {
            ++it;
            continue;
        }
        libusb_unref_device((*it)->device);
        (*it)->device = nullptr;
        (*it)->entry.dev = nullptr;
        retired_.push_back(std::move(*it));
        it = devices_.erase(it);
        ++counts.devices;
    }
    relink(present);  // while the list is held: it asks libusb for each device's parent
    if (list) libusb_free_device_list(list, 0);
    return counts;
}

// Buses in number order, each bus's devices in address order: the root hub first, as on a PC.
void UsbDeviceList::relink(const std::vector<ListedDevice*>& present) {
    std::vector<ListedDevice*> sorted = present;
    std::sort(sorted.begin(), sorted.end(), [](const ListedDevice* a, const ListedDevice* b) {
        const int busA = int(a->entry.bus->location), busB = int(b->entry.bus->location);
        return busA != busB ? busA < busB : a->entry.devnum < b->entry.devnum;
    });
    std::sort(buses_.begin(), buses_.end(),
              [](const auto& a, const auto& b) { return a->location < b->location; });
    for (auto& bus : buses_) bus->devices = bus->root_dev = nullptr;
    for (auto& retired : retired_) retired->entry.next = retired->entry.prev = nullptr;
    std::vector<struct usb_device*> last(buses_.size(), nullptr);
    for (ListedDevice* listed : sorted) {
        usb_bus* bus = listed->entry.bus;
        const auto at = std::size_t(std::find_if(buses_.begin(), buses_.end(),
                                                 [&](const auto& b) { return b.get() == bus; }) -
                                    buses_.begin());
        listed->entry.prev = last[at];
        listed->entry.next = nullptr;
        (last[at] ? last[at]->next : bus->devices) = &listed->entry;
        last[at] = &listed->entry;
        if (libusb_get_parent(listed->device) == nullptr) bus->root_dev = &listed->entry;
    }
    head_ = nullptr;
    usb_bus* previous = nullptr;
    for (auto& bus : buses_) {
        bus->prev = previous;
        bus->next = nullptr;
        (previous ? previous->next : head_) = bus.get();
        previous = bus.get();
    }
}

}  // namespace k350usb
