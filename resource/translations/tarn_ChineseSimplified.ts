<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>tarn</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Adjust how Corvane Connect works for you.</source>
        <translation>根据您的需要调整 Corvane Connect。</translation>
    </message>
    <message>
        <source>Answer incoming calls automatically</source>
        <translation>自动接听来电</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>Choose the language of the application.</source>
        <translation>选择应用程序的语言。</translation>
    </message>
    <message>
        <source>Connected devices: %1</source>
        <translation>已连接的设备：%1</translation>
    </message>
    <message>
        <source>Copyright 2026 Corvane. All rights reserved.</source>
        <translation>版权所有 2026 Corvane。保留所有权利。</translation>
    </message>
    <message>
        <source>Corvane Connect</source>
        <translation>Corvane Connect</translation>
    </message>
    <message>
        <source>Corvane Connect is provided to help you set up and use your Corvane devices.</source>
        <translation>Corvane Connect 帮助您设置和使用 Corvane 设备。</translation>
    </message>
    <message>
        <source>Corvane Connect keeps its settings and logs on this computer only.</source>
        <translation>Corvane Connect 仅在本计算机上保存其设置和日志。</translation>
    </message>
    <message>
        <source>Current version: %1</source>
        <translation>当前版本：%1</translation>
    </message>
    <message>
        <source>Describe your problem or suggestion</source>
        <translation>描述您的问题或建议</translation>
    </message>
    <message>
        <source>Device management</source>
        <translation>设备管理</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Feedback</source>
        <translation>反馈</translation>
    </message>
    <message>
        <source>Feedback you write stays on this computer. Nothing is sent without your consent.</source>
        <translation>您的反馈保存在本计算机上。未经您的同意，不会发送任何内容。</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>For example https://dms.example.com</source>
        <translation>例如 https://dms.example.com</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Language settings</source>
        <translation>语言设置</translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation>制造商</translation>
    </message>
    <message>
        <source>No USB devices found</source>
        <translation>未找到 USB 设备</translation>
    </message>
    <message>
        <source>No settings are available.</source>
        <translation>没有可用的设置。</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Options for calls made with your headset.</source>
        <translation>使用耳机通话的选项。</translation>
    </message>
    <message>
        <source>Play a ring tone for incoming calls</source>
        <translation>来电时播放铃声</translation>
    </message>
    <message>
        <source>Please enter a valid server address.</source>
        <translation>请输入有效的服务器地址。</translation>
    </message>
    <message>
        <source>Please enter your feedback first.</source>
        <translation>请先输入您的反馈。</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Privacy policy</source>
        <translation>隐私政策</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>产品</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Server address</source>
        <translation>服务器地址</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Soft phone</source>
        <translation>软电话</translation>
    </message>
    <message>
        <source>Soft phone settings</source>
        <translation>软电话设置</translation>
    </message>
    <message>
        <source>Software update</source>
        <translation>软件更新</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>登录时启动</translation>
    </message>
    <message>
        <source>Start the soft phone together with the application</source>
        <translation>随应用程序一起启动软电话</translation>
    </message>
    <message>
        <source>Tell us what works well and what we should improve.</source>
        <translation>告诉我们哪些地方做得好，哪些地方需要改进。</translation>
    </message>
    <message>
        <source>Thank you! Your feedback has been saved.</source>
        <translation>谢谢！您的反馈已保存。</translation>
    </message>
    <message>
        <source>The companion application for your Corvane USB devices.</source>
        <translation>您的 Corvane USB 设备的配套应用程序。</translation>
    </message>
    <message>
        <source>The language setting could not be saved.</source>
        <translation>无法保存语言设置。</translation>
    </message>
    <message>
        <source>The server address could not be saved.</source>
        <translation>无法保存服务器地址。</translation>
    </message>
    <message>
        <source>The server address has been saved.</source>
        <translation>服务器地址已保存。</translation>
    </message>
    <message>
        <source>The server that manages your devices. Leave it empty when you have none.</source>
        <translation>管理您设备的服务器。如果没有，请留空。</translation>
    </message>
    <message>
        <source>The software is provided as it is, without any warranty.</source>
        <translation>本软件按原样提供，不提供任何担保。</translation>
    </message>
    <message>
        <source>USB devices connected to this computer.</source>
        <translation>连接到本计算机的 USB 设备。</translation>
    </message>
    <message>
        <source>Unknown device</source>
        <translation>未知设备</translation>
    </message>
    <message>
        <source>Unknown manufacturer</source>
        <translation>未知制造商</translation>
    </message>
    <message>
        <source>User agreement</source>
        <translation>用户协议</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>版本 %1</translation>
    </message>
    <message>
        <source>Welcome to Corvane Connect</source>
        <translation>欢迎使用 Corvane Connect</translation>
    </message>
    <message>
        <source>You are using the latest version.</source>
        <translation>您使用的是最新版本。</translation>
    </message>
    <message>
        <source>You may use it on every computer you connect these devices to.</source>
        <translation>您可以在连接这些设备的任何计算机上使用它。</translation>
    </message>
    <message>
        <source>Your feedback could not be saved.</source>
        <translation>无法保存您的反馈。</translation>
    </message>
    <message>
        <source>Corvane Connect logo</source>
        <translation>Corvane Connect 标志</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>导航</translation>
    </message>
    <message>
        <source>USB devices</source>
        <translation>USB 设备</translation>
    </message>
    <message>
        <source>Settings categories</source>
        <translation>设置类别</translation>
    </message>
    <message>
        <source>Your feedback</source>
        <translation>您的反馈</translation>
    </message>
</context>
</TS>
