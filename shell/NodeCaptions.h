// The captions of the device tree's nodes, as the tree shows them and its lookups name them.
#pragma once

namespace NodeCaption {
inline constexpr char Tasks[] = "Задачи";
inline constexpr char Devices[] = "Устройства";
inline constexpr char Read[] = "Прочитать";
inline constexpr char Write[] = "Записать";
inline constexpr char Firmware[] = "Загрузка ПО";
inline constexpr char Statistics[] = "Статистика";
inline constexpr char Codec[] = "Кодек";
inline constexpr char Vocoder[] = "Вокодер";
inline constexpr char Recorder[] = "Регистратор";
inline constexpr char Amplifier[] = "Усилитель НЧ";
inline constexpr char Information[] = "Информация";
// verbatim: the first letter is a Latin C, as on the boards' tools
inline constexpr char Service[] = "Cервис";
inline constexpr char BoardInfo[] = "Board Info";
inline constexpr char Trace[] = "Trace";
inline constexpr char Uart[] = "UART";
}  // namespace NodeCaption
