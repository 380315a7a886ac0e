<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Russian texts that Qt's own translation (qtbase_ru) lacks, and those of the file dialogs'
     type and size columns. Compiled by lrelease at build time and loaded after qtbase_ru, so
     that these win where both have a text. -->
<TS version="2.1" language="ru_RU">
<context>
    <name>QAbstractFileIconProvider</name>
    <message>
        <source>Folder</source>
        <comment>All other platforms</comment>
        <translation>Папка</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Папка</translation>
    </message>
    <message>
        <source>File Folder</source>
        <comment>Match Windows Explorer</comment>
        <translation>Папка с файлами</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <comment>All other platforms</comment>
        <translation>Ярлык</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>Ярлык</translation>
    </message>
    <message>
        <source>Drive</source>
        <translation>Диск</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Неизвестный</translation>
    </message>
</context>
<context>
    <name>pitch::FileInfo</name>
    <message>
        <source>%1 File</source>
        <translation>Файл «%1»</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message numerus="yes">
        <source>%n byte(s)</source>
        <translation>
            <numerusform>%n байт</numerusform>
            <numerusform>%n байта</numerusform>
            <numerusform>%n байт</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 KiB</source>
        <translation>%1 КБ</translation>
    </message>
    <message>
        <source>%1 MiB</source>
        <translation>%1 МБ</translation>
    </message>
    <message>
        <source>%1 GiB</source>
        <translation>%1 ГБ</translation>
    </message>
    <message>
        <source>%1 TiB</source>
        <translation>%1 ТБ</translation>
    </message>
    <message>
        <source>%1 PiB</source>
        <translation>%1 ПБ</translation>
    </message>
    <message>
        <source>%1 EiB</source>
        <translation>%1 ЭБ</translation>
    </message>
    <message>
        <source>en_US</source>
        <comment>the locale of the numbers</comment>
        <translation>ru_RU</translation>
    </message>
</context>
</TS>
