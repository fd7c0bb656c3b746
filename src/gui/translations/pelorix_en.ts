<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- The English window, written by scripts/update-translations from the
     Tr() and QT_TR_NOOP() texts of src/gui (the Chinese texts are the
     source); fill the translations here. lrelease compiles it at build
     time. Files the program writes and event-log lines are not translated. -->
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Pelorix</name>
    <message>
        <source>起始IP</source>
        <translation>Start IP</translation>
    </message>
    <message>
        <source>结束IP</source>
        <translation>End IP</translation>
    </message>
    <message>
        <source>所在区域</source>
        <translation>Area</translation>
    </message>
    <message>
        <source>详细地点</source>
        <translation>Detailed place</translation>
    </message>
    <message>
        <source>评分 %1，待定</source>
        <translation>Score %1, unsure</translation>
    </message>
    <message>
        <source>评分 %1</source>
        <translation>Score %1</translation>
    </message>
    <message>
        <source>全部选定</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>已删除</source>
        <translation>Deleted</translation>
    </message>
    <message>
        <source>垃圾邮件</source>
        <translation>Spam</translation>
    </message>
    <message>
        <source>优先级</source>
        <translation>Priority</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>信箱</source>
        <translation>Mailboxes</translation>
    </message>
    <message>
        <source>预览新邮件</source>
        <translation>Preview new mail</translation>
    </message>
    <message>
        <source>检测新版本</source>
        <translation>Check for a new version</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>POP3服务器</source>
        <translation>POP3 server</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Protocol</translation>
    </message>
    <message>
        <source>检查的文件夹</source>
        <translation>Folders to check</translation>
    </message>
    <message>
        <source>用逗号分隔，例如 INBOX, 工作</source>
        <translation>Separated by commas, for example INBOX, Work</translation>
    </message>
    <message>
        <source>将邮件帐号加入列表中</source>
        <translation>Add the mail account to the list</translation>
    </message>
    <message>
        <source>将邮件帐号从列表中取出</source>
        <translation>Take the mail account out of the list</translation>
    </message>
    <message>
        <source>从Thunderbird导入帐号</source>
        <translation>Import accounts from Thunderbird</translation>
    </message>
    <message>
        <source>登录…</source>
        <translation>Sign in…</translation>
    </message>
    <message>
        <source>在浏览器中为所选的 OAuth2 帐号登录</source>
        <translation>Sign in to the selected OAuth2 account in the browser</translation>
    </message>
    <message>
        <source>在左边的选项填写你要检测的邮箱账号，以便话费清单自动检测。</source>
        <translation>Fill in the mail accounts to check in the fields on the left, so that they are checked automatically.</translation>
    </message>
    <message>
        <source>没有找到桌面密钥环 (Secret Service)：密码以扰码形式保存在只有您能读取的设置文件 registry.db 中。</source>
        <translation>No desktop keyring (Secret Service) was found: passwords are kept scrambled in the settings file registry.db, which only you can read.</translation>
    </message>
    <message>
        <source>邮箱帐号</source>
        <translation>Mail accounts</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
    <message>
        <source>发件服务器 (SMTP)</source>
        <translation>Outgoing server (SMTP)</translation>
    </message>
    <message>
        <source>端口：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>是否验证：</source>
        <translation>Authentication:</translation>
    </message>
    <message>
        <source>不要验证</source>
        <translation>None</translation>
    </message>
    <message>
        <source>简单登录</source>
        <translation>Plain login</translation>
    </message>
    <message>
        <source>帐号：</source>
        <translation>Account:</translation>
    </message>
    <message>
        <source>口令</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>您的电子邮件地址：</source>
        <translation>Your e-mail address:</translation>
    </message>
    <message>
        <source>请在这里填写发件服务器的属性，有的SMTP服务器需要你的帐号和口令，请在填写完整，并将是否验证选择为“简单登录”。注意：“您的电子邮件地址”必须是正确的真实地址。</source>
        <translation>Fill in your outgoing mail server here. Some SMTP servers need your account and password: fill them in and set Authentication to “Plain login”. Note: “Your e-mail address” must be your real address.</translation>
    </message>
    <message>
        <source>[没有密码，请重新设置]</source>
        <translation>[No password, please set it again]</translation>
    </message>
    <message>
        <source>所填地址不能为空格</source>
        <translation>The fields must not be blank</translation>
    </message>
    <message>
        <source>没有找到Thunderbird的配置文件。</source>
        <translation>No Thunderbird profile was found.</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>Thunderbird中没有POP3或IMAP帐号。</source>
        <translation>Thunderbird has no POP3 or IMAP accounts.</translation>
    </message>
    <message>
        <source>以下帐号没有导入：
</source>
        <translation>These accounts were not imported:
</translation>
    </message>
    <message>
        <source>被拒收的信件长度</source>
        <translation>Rejected letter size</translation>
    </message>
    <message>
        <source>被拒收的信件长度（字节）</source>
        <translation>Rejected letter size (bytes)</translation>
    </message>
    <message>
        <source>字节</source>
        <translation>bytes</translation>
    </message>
    <message>
        <source>将长度条件加入列表中</source>
        <translation>Add the size rule to the list</translation>
    </message>
    <message>
        <source>将长度条件从列表中取出</source>
        <translation>Take the size rule out of the list</translation>
    </message>
    <message>
        <source>导入过滤文件</source>
        <translation>Import filter file</translation>
    </message>
    <message>
        <source>导出过滤文件</source>
        <translation>Export filter file</translation>
    </message>
    <message>
        <source>“%1”中有一行长于255字节：
%2…
请缩短后再关闭窗口。</source>
        <translation>A line in &quot;%1&quot; is longer than 255 bytes:
%2…
Shorten it before closing the window.</translation>
    </message>
    <message>
        <source>垃圾邮件黑名单(*.rub)</source>
        <translation>Spam blacklist(*.rub)</translation>
    </message>
    <message>
        <source>有%1条过滤条件没有导入（长度条件缺少==、&gt;=或&lt;=，或长于255字节）。</source>
        <translation>%1 filter rules were not imported (a size rule without ==, &gt;= or &lt;=, or longer than 255 bytes).</translation>
    </message>
    <message>
        <source>垃圾黑名单(*.rub)</source>
        <translation>Spam blacklist(*.rub)</translation>
    </message>
    <message>
        <source>正在读取IP地址表……</source>
        <translation>Reading the IP table…</translation>
    </message>
    <message>
        <source>IP→地址</source>
        <translation>IP→place</translation>
    </message>
    <message>
        <source>显示全部IP地址（包括随程序提供的）</source>
        <translation>Show every IP row (the delivered table&apos;s too)</translation>
    </message>
    <message>
        <source>详细地址</source>
        <translation>Place</translation>
    </message>
    <message>
        <source>将IP地址增加到列表中</source>
        <translation>Add the IP range to the list</translation>
    </message>
    <message>
        <source>从列表中移出IP地址。</source>
        <translation>Take the IP range out of the list.</translation>
    </message>
    <message>
        <source>导入列表</source>
        <translation>Import list</translation>
    </message>
    <message>
        <source>导出列表</source>
        <translation>Export list</translation>
    </message>
    <message>
        <source>IP地址表不能读取（%1），本页不能修改。</source>
        <translation>The IP table cannot be read (%1); this page cannot be changed.</translation>
    </message>
    <message>
        <source>您的IP地址表（%1）中有%2条记录与随程序提供的IP地址表完全相同。随程序提供的表总会在您的记录之后被查找，这些记录不再需要。

是否删去它们，只保留您自己增加或导入的记录？</source>
        <translation>Your IP table (%1) holds %2 rows exactly equal to the IP table delivered with the program. The delivered table is always searched after your rows, so these rows are no longer needed.

Delete them, keeping only the rows you added or imported?</translation>
    </message>
    <message>
        <source>精简IP地址表</source>
        <translation>Slim the IP table</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>导入被禁止！</source>
        <translation>Import refused!</translation>
    </message>
    <message>
        <source>文件已被导入！</source>
        <translation>The file has been imported!</translation>
    </message>
    <message>
        <source>
有%1条记录的IP地址格式不对，没有导入。</source>
        <translation>
%1 records had malformed IP addresses and were not imported.</translation>
    </message>
    <message>
        <source>成功！</source>
        <translation>Success!</translation>
    </message>
    <message>
        <source>文件已被导出！</source>
        <translation>The file has been exported!</translation>
    </message>
    <message>
        <source>导出被禁止！</source>
        <translation>Export refused!</translation>
    </message>
    <message>
        <source>    Pelorix 从你的操作中学习：你勾选并清除的邮件是垃圾邮件，恢复的和被邮件程序收走的是正常邮件。过滤条件先判断，它们放过的邮件再由自动判断给出0-100的评分。</source>
        <translation>Pelorix learns from what you do: mail you tick and clear is spam, mail you restore or your mail program collects is good. The filter lists judge first; the mail they let pass is scored from 0 to 100 by the automatic judge.</translation>
    </message>
    <message>
        <source>自动判断垃圾邮件</source>
        <translation>Judge spam automatically</translation>
    </message>
    <message>
        <source>评分达到此值即为垃圾邮件 (1-100)：</source>
        <translation>Spam from this score on (1-100):</translation>
    </message>
    <message>
        <source>评分达到此值标为待定 (0-100)：</source>
        <translation>Unsure from this score on (0-100):</translation>
    </message>
    <message>
        <source>查摘要时另读信件开头的行数 (0 为不读)：</source>
        <translation>Lines of the body also read by a header check (0 reads none):</translation>
    </message>
    <message>
        <source>从Thunderbird学习</source>
        <translation>Learn from Thunderbird</translation>
    </message>
    <message>
        <source>清空学习记录</source>
        <translation>Forget what was learnt</translation>
    </message>
    <message>
        <source>朋友（他们的邮件从不判为垃圾邮件）：</source>
        <translation>Friends (their mail is never judged spam):</translation>
    </message>
    <message>
        <source>朋友</source>
        <translation>Friends</translation>
    </message>
    <message>
        <source>学习记录无法打开</source>
        <translation>The learning record cannot be opened</translation>
    </message>
    <message>
        <source>自动判断：已学习垃圾邮件 %1 封、正常邮件 %2 封</source>
        <translation>Automatic judge: learnt %1 spam and %2 good messages</translation>
    </message>
    <message>
        <source>，各学满 %1 封后开始判断</source>
        <translation>; it starts judging after %1 of each</translation>
    </message>
    <message>
        <source>没有找到Thunderbird的配置文件夹。</source>
        <translation>No Thunderbird profile folder was found.</translation>
    </message>
    <message>
        <source>学习记录无法打开：</source>
        <translation>The learning record cannot be opened: </translation>
    </message>
    <message>
        <source>已学习垃圾邮件%1封、正常邮件%2封，加入朋友%3位。</source>
        <translation>Learnt %1 spam and %2 good messages, and added %3 friends.</translation>
    </message>
    <message>
        <source>确实要忘记所有学到的内容吗？朋友名单会保留。</source>
        <translation>Really forget everything learnt? The friends list stays.</translation>
    </message>
    <message>
        <source>无法清空学习记录：</source>
        <translation>Cannot clear the learning record: </translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Sign in</translation>
    </message>
    <message>
        <source>正在等待浏览器中的登录。</source>
        <translation>Waiting for the sign-in in the browser.</translation>
    </message>
    <message>
        <source>请先在列表中选择一个用 OAuth2 登录的帐号。</source>
        <translation>First select an account in the list that signs in with OAuth2.</translation>
    </message>
    <message>
        <source>未知的提供者</source>
        <translation>Unknown provider</translation>
    </message>
    <message>
        <source>无法打开浏览器。请打开以下地址：
</source>
        <translation>Cannot open the browser. Please open this address:
</translation>
    </message>
    <message>
        <source>登录失败：</source>
        <translation>Sign-in failed: </translation>
    </message>
    <message>
        <source>登录令牌不能保存。</source>
        <translation>The sign-in token cannot be saved.</translation>
    </message>
    <message>
        <source>已登录：</source>
        <translation>Signed in: </translation>
    </message>
    <message>
        <source>邮箱属性</source>
        <translation>Mailbox settings</translation>
    </message>
    <message>
        <source>邮件操作</source>
        <translation>Mail handling</translation>
    </message>
    <message>
        <source>过滤条件</source>
        <translation>Filters</translation>
    </message>
    <message>
        <source>自动判断</source>
        <translation>Automatic judge</translation>
    </message>
    <message>
        <source>    探测到新邮件后，Tolvane的Brushkin可以帮助你对邮件进行预处理，包括邮件简报、垃圾邮件自动清除等操作。其中，删除是指从邮件服务器直接删除。此外，你可以选择[拒收那些收件人地址并不是自己邮箱地址的信件]这个功能，以防范那些不是发给你的邮件[慎用！]</source>
        <translation>When new mail arrives, Tolvane&apos;s Brushkin can handle it first: a brief of the mail, clearing spam automatically and more. Deleting means deleting directly on the mail server. You can also choose [reject letters whose recipient is not my own address], to keep out mail not meant for you [use with care!]</translation>
    </message>
    <message>
        <source>查看新邮件摘要</source>
        <translation>Check the headers of new mail</translation>
    </message>
    <message>
        <source>检测时自动删除垃圾邮件[新手慎用 ！]</source>
        <translation>Delete spam automatically while checking [beginners beware!]</translation>
    </message>
    <message>
        <source>拒收收件人地址并不是自已邮箱地址的信件!</source>
        <translation>Reject letters whose recipient is not my own address!</translation>
    </message>
    <message>
        <source>拒收没有[发件人]与[收件人]的邮件</source>
        <translation>Reject mail without [From] and [To]</translation>
    </message>
    <message>
        <source>查看内容时,如果信件大小大于</source>
        <translation>When checking contents, skip letters larger than</translation>
    </message>
    <message>
        <source>如果信箱中的信件数超过</source>
        <translation>If a mailbox holds more than</translation>
    </message>
    <message>
        <source>每隔</source>
        <translation>Every</translation>
    </message>
    <message>
        <source>每次开机时都自动启动“Pelorix”</source>
        <translation>Start “Pelorix” every time I log in</translation>
    </message>
    <message>
        <source>删除前保留邮件副本</source>
        <translation>Keep a copy of mail before deleting it</translation>
    </message>
    <message>
        <source>KB则跳过,不进行预收检查</source>
        <translation>KB, without checking them</translation>
    </message>
    <message>
        <source>封则报警,并启动信箱清除器准备清空所有邮件!</source>
        <translation>letters, warn and open the clearer to empty the mailbox!</translation>
    </message>
    <message>
        <source>分钟自动检测新邮件并执行以上操作！</source>
        <translation>minutes, check for new mail and do the above!</translation>
    </message>
    <message>
        <source>天后清除副本</source>
        <translation>days, then drop the copies</translation>
    </message>
    <message>
        <source>副本保留天数</source>
        <translation>Days to keep the copies</translation>
    </message>
    <message>
        <source>邮件接收程序</source>
        <translation>Mail program</translation>
    </message>
    <message>
        <source>选择邮件接收程序</source>
        <translation>Choose the mail program</translation>
    </message>
    <message>
        <source>打开信件时从服务器取回内容</source>
        <translation>Fetch the text from the server when a letter opens</translation>
    </message>
    <message>
        <source>查摘要后打开的信件没有正文时，从服务器取回这一封</source>
        <translation>A letter opened after a header check has no text yet: fetch that one letter from the server</translation>
    </message>
    <message>
        <source>窗口语言</source>
        <translation>Window language</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>As the desktop</translation>
    </message>
    <message>
        <source>(下次启动时生效)</source>
        <translation>(takes effect at the next start)</translation>
    </message>
    <message>
        <source>邮箱帐号：</source>
        <translation>Mail accounts: </translation>
    </message>
    <message>
        <source>邮件操作与发件服务器</source>
        <translation>Mail handling and outgoing server</translation>
    </message>
    <message>
        <source>IP→地址：</source>
        <translation>IP→place: </translation>
    </message>
    <message>
        <source>以下设置没有保存：
</source>
        <translation>These settings were not saved:
</translation>
    </message>
    <message>
        <source>开机自动启动项不能写入：</source>
        <translation>The log-in start entry cannot be written: </translation>
    </message>
    <message>
        <source>邮件接收程序 (*)</source>
        <translation>Mail program (*)</translation>
    </message>
    <message>
        <source>所选文件不是可执行的程序。</source>
        <translation>The chosen file is not a program that can be run.</translation>
    </message>
    <message>
        <source>程序的路径长于255字节。</source>
        <translation>The program&apos;s path is longer than 255 bytes.</translation>
    </message>
    <message>
        <source>提醒</source>
        <translation>Reminder</translation>
    </message>
    <message>
        <source>是否运行邮件接收程序?</source>
        <translation>Start the mail program?</translation>
    </message>
    <message>
        <source>无法启动邮件接收程序：</source>
        <translation>Cannot start the mail program: </translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>打开列表</source>
        <translation>Open list</translation>
    </message>
    <message>
        <source>保存列表</source>
        <translation>Save list</translation>
    </message>
    <message>
        <source>打开简报</source>
        <translation>Open brief</translation>
    </message>
    <message>
        <source>保存简报</source>
        <translation>Save brief</translation>
    </message>
    <message>
        <source>信件属性</source>
        <translation>Letter</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>全部不选</source>
        <translation>Select none</translation>
    </message>
    <message>
        <source>列表</source>
        <translation>List</translation>
    </message>
    <message>
        <source>简报</source>
        <translation>Brief</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Actions</translation>
    </message>
    <message>
        <source>预检邮件</source>
        <translation>Pre-check mail</translation>
    </message>
    <message>
        <source>清除邮件</source>
        <translation>Clear mail</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>启动接收程序</source>
        <translation>Start the mail program</translation>
    </message>
    <message>
        <source>配置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>清除当前帐号里的已删除邮件</source>
        <translation>Purge the deleted mail of the current account</translation>
    </message>
    <message>
        <source>清除所有帐号里的已删除邮件</source>
        <translation>Purge the deleted mail of all accounts</translation>
    </message>
    <message>
        <source>恢复邮件</source>
        <translation>Restore mail</translation>
    </message>
    <message>
        <source>标为垃圾邮件</source>
        <translation>Mark as spam</translation>
    </message>
    <message>
        <source>标为正常邮件</source>
        <translation>Mark as good mail</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>写一封信给作者</source>
        <translation>Write to the author</translation>
    </message>
    <message>
        <source>访问主页</source>
        <translation>Visit the home page</translation>
    </message>
    <message>
        <source>检测最新版本</source>
        <translation>Check for a new version</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Tool bar</translation>
    </message>
    <message>
        <source>：选择信箱</source>
        <translation>: choose the mailbox</translation>
    </message>
    <message>
        <source>选择要%1的信箱</source>
        <translation>Choose the mailboxes for %1</translation>
    </message>
    <message>
        <source>查摘要</source>
        <translation>Headers</translation>
    </message>
    <message>
        <source>查内容</source>
        <translation>Contents</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>收信</source>
        <translation>Receive</translation>
    </message>
    <message>
        <source>邮件列表</source>
        <translation>Mail list</translation>
    </message>
    <message>
        <source>邮件内容</source>
        <translation>Mail content</translation>
    </message>
    <message>
        <source>事件</source>
        <translation>Events</translation>
    </message>
    <message>
        <source>以列表方式查看预检结果</source>
        <translation>View the results as a list</translation>
    </message>
    <message>
        <source>查看邮件检测过程</source>
        <translation>View how the mail was checked</translation>
    </message>
    <message>
        <source>以简报形式查看预检结果</source>
        <translation>View the results as a brief</translation>
    </message>
    <message>
        <source>邮箱数：</source>
        <translation>Mailboxes: </translation>
    </message>
    <message>
        <source>邮件：</source>
        <translation>Mail: </translation>
    </message>
    <message>
        <source>占用空间：</source>
        <translation>Space: </translation>
    </message>
    <message>
        <source>当前信箱:</source>
        <translation>Mailbox:</translation>
    </message>
    <message>
        <source>状态：</source>
        <translation>State: </translation>
    </message>
    <message>
        <source>最新邮件</source>
        <translation>Latest mail</translation>
    </message>
    <message>
        <source>新到邮件</source>
        <translation>New mail</translation>
    </message>
    <message>
        <source>已删除邮件</source>
        <translation>Deleted mail</translation>
    </message>
    <message>
        <source>正在从服务器取回信件内容……</source>
        <translation>Fetching the letter&apos;s text from the server…</translation>
    </message>
    <message>
        <source>当前设置：查看信箱为 </source>
        <translation>Viewing the mailbox </translation>
    </message>
    <message>
        <source>当前设置为查看所有信箱</source>
        <translation>Viewing all mailboxes</translation>
    </message>
    <message>
        <source>时间：</source>
        <translation>Time: </translation>
    </message>
    <message>
        <source>优先级：</source>
        <translation>Priority: </translation>
    </message>
    <message>
        <source>地址：</source>
        <translation>Address: </translation>
    </message>
    <message>
        <source>收件人：</source>
        <translation>To: </translation>
    </message>
    <message>
        <source>组织：</source>
        <translation>Organization: </translation>
    </message>
    <message>
        <source>标题：</source>
        <translation>Subject: </translation>
    </message>
    <message>
        <source>发件人：</source>
        <translation>From: </translation>
    </message>
    <message>
        <source>打开列表文件</source>
        <translation>Open list file</translation>
    </message>
    <message>
        <source> 邮件列表 (*.NFL)</source>
        <translation> Mail list (*.NFL)</translation>
    </message>
    <message>
        <source>保存列表文件</source>
        <translation>Save list file</translation>
    </message>
    <message>
        <source>无法写入文件：</source>
        <translation>Cannot write the file: </translation>
    </message>
    <message>
        <source>打开简报文件</source>
        <translation>Open brief file</translation>
    </message>
    <message>
        <source> 邮件简报 (*.TXT)</source>
        <translation> Mail brief (*.TXT)</translation>
    </message>
    <message>
        <source>无法读取文件：</source>
        <translation>Cannot read the file: </translation>
    </message>
    <message>
        <source>保存简报文件</source>
        <translation>Save brief file</translation>
    </message>
    <message>
        <source>请先选定要恢复的邮件!</source>
        <translation>Select the mail to restore first!</translation>
    </message>
    <message>
        <source>
另有%1封邮件删除时没有保留副本，无法恢复。</source>
        <translation>
%1 more messages kept no copy when deleted and cannot be restored.</translation>
    </message>
    <message>
        <source>选定的邮件删除时都没有保留副本，无法恢复。</source>
        <translation>None of the selected messages kept a copy when deleted; they cannot be restored.</translation>
    </message>
    <message>
        <source>恢复选定的%1封邮件：保存到邮箱文件(mbox)，以便导入邮件程序；或者发回到自己的邮箱。</source>
        <translation>Restore the %1 selected messages: save them to a mailbox file (mbox) to import into a mail program, or send them back to your own address.</translation>
    </message>
    <message>
        <source>保存到邮箱文件</source>
        <translation>Save to a mailbox file</translation>
    </message>
    <message>
        <source>发回到自己的邮箱</source>
        <translation>Send back to my address</translation>
    </message>
    <message>
        <source> 邮箱文件 (*.mbox)</source>
        <translation> Mailbox file (*.mbox)</translation>
    </message>
    <message>
        <source>已将%1封邮件保存到 </source>
        <translation>Saved %1 messages to </translation>
    </message>
    <message>
        <source>无法保存邮件：</source>
        <translation>Cannot save the mail: </translation>
    </message>
    <message>
        <source>请先选定要标记的邮件!</source>
        <translation>Select the mail to mark first!</translation>
    </message>
    <message>
        <source>无法保存学习记录：</source>
        <translation>Cannot save the learning record: </translation>
    </message>
    <message>
        <source>已学习%1封%2</source>
        <translation>Learnt %1 messages as %2</translation>
    </message>
    <message>
        <source>正常邮件</source>
        <translation>good mail</translation>
    </message>
    <message>
        <source>正在发送!</source>
        <translation>Sending!</translation>
    </message>
    <message>
        <source>发送完毕!</source>
        <translation>Sent!</translation>
    </message>
    <message>
        <source>发送失败！</source>
        <translation>Sending failed!</translation>
    </message>
    <message>
        <source>已将%1封邮件发回到 </source>
        <translation>Sent %1 messages back to </translation>
    </message>
    <message>
        <source>
其余%1封发送失败：</source>
        <translation>
The other %1 could not be sent: </translation>
    </message>
    <message>
        <source>注意！</source>
        <translation>Note!</translation>
    </message>
    <message>
        <source>正在检测邮件！</source>
        <translation>Checking mail!</translation>
    </message>
    <message>
        <source>帐号设置错误！</source>
        <translation>Account settings wrong!</translation>
    </message>
    <message>
        <source>你必须指定至少一个邮件帐号才能检查!</source>
        <translation>You must set up at least one mail account to check!</translation>
    </message>
    <message>
        <source>当前设置为查看</source>
        <translation>Now viewing </translation>
    </message>
    <message>
        <source>新到邮件%1封</source>
        <translation>%1 new messages</translation>
    </message>
    <message>
        <source>已删除邮件%1封</source>
        <translation>%1 messages deleted</translation>
    </message>
    <message>
        <source>正在连接服务器!</source>
        <translation>Connecting to the server!</translation>
    </message>
    <message>
        <source>连接成功!</source>
        <translation>Connected!</translation>
    </message>
    <message>
        <source>发送完毕器!</source>
        <translation>Sent!</translation>
    </message>
    <message>
        <source>断开服务器!</source>
        <translation>Disconnected from the server!</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>发件人</source>
        <translation>From</translation>
    </message>
    <message>
        <source>标题</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>邮箱</source>
        <translation>Mailbox</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>收件人</source>
        <translation>To</translation>
    </message>
    <message>
        <source>发件人所在地</source>
        <translation>Location</translation>
    </message>
    <message>
        <source>发件时间</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>组织名称</source>
        <translation>Org.</translation>
    </message>
    <message>
        <source>评分</source>
        <translation>Score</translation>
    </message>
    <message>
        <source>最高</source>
        <translation>Highest</translation>
    </message>
    <message>
        <source>较高</source>
        <translation>High</translation>
    </message>
    <message>
        <source>较低</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>已选</source>
        <translation>Ticked</translation>
    </message>
    <message>
        <source>未选</source>
        <translation>Not ticked</translation>
    </message>
    <message>
        <source>已从服务器删除</source>
        <translation>Deleted from the server</translation>
    </message>
    <message>
        <source>最低</source>
        <translation>Lowest</translation>
    </message>
    <message>
        <source>普通</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Pelorix 邮件预检器

在您的邮件程序下载邮件之前，先到 POP3 服务器上查看信件的摘要或内容，按过滤列表判断垃圾邮件，标出发件人所在地，并可在服务器上直接删除。

操作提示：收信后，双击表格
中任意信件，可以观看该信件
属性，并可即时回复发件人。

Tolvane
主页：%1
邮箱：%2</source>
        <translation>Pelorix mail pre-checker

Before your mail program downloads your mail, look at the headers or the whole messages on the POP3 server, judge spam by the filter lists, see where each sender is, and delete on the server directly.

Hint: after a check, double-click
any letter in the list to see
its properties and reply at once.

Tolvane
Home page: %1
Mail: %2</translation>
    </message>
    <message>
        <source>邮箱：%1个</source>
        <translation>Mailboxes: %1</translation>
    </message>
    <message>
        <source>邮件：%1封</source>
        <translation>Mail: %1</translation>
    </message>
    <message>
        <source>占用空间：%1KB</source>
        <translation>Space: %1KB</translation>
    </message>
    <message>
        <source>所有信箱</source>
        <translation>All mailboxes</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>不加密</source>
        <translation>No encryption</translation>
    </message>
    <message>
        <source>移到垃圾邮件文件夹 (没有则移到已删除)</source>
        <translation>Move to the Junk folder (else to Trash)</translation>
    </message>
    <message>
        <source>移到垃圾邮件文件夹 (Junk)</source>
        <translation>Move to the Junk folder</translation>
    </message>
    <message>
        <source>移到已删除文件夹 (Trash)</source>
        <translation>Move to the Trash folder</translation>
    </message>
    <message>
        <source>彻底删除 (服务器须支持 UIDPLUS)</source>
        <translation>Delete for good (the server must support UIDPLUS)</translation>
    </message>
    <message>
        <source>XOAUTH2 (访问令牌)</source>
        <translation>XOAUTH2 (access token)</translation>
    </message>
    <message>
        <source>OAUTHBEARER (访问令牌)</source>
        <translation>OAUTHBEARER (access token)</translation>
    </message>
    <message>
        <source>无 (密码)</source>
        <translation>None (password)</translation>
    </message>
    <message>
        <source>你可以这里指定要过滤的标题，将其填写在下面。(注意：每个特征字不允许折行，只能在一行内填写。)</source>
        <translation>Here you give the subjects to filter out, one below the other. (Note: each signature word stays on one line.)</translation>
    </message>
    <message>
        <source>你可以在这里指定被过滤的发件人地址，将其填写在下面。(注意：特征字不允许折行，只能在一行内填写。)</source>
        <translation>Here you give the sender addresses to filter out, one below the other. (Note: each signature word stays on one line.)</translation>
    </message>
    <message>
        <source>信件长度</source>
        <translation>Letter size</translation>
    </message>
    <message>
        <source>你可以在这里指定信件长度的过滤条件，将其埴写在下面。</source>
        <translation>Here you give the size rules of the filter, one below the other.</translation>
    </message>
    <message>
        <source>内容/病毒特征码</source>
        <translation>Content/virus signatures</translation>
    </message>
    <message>
        <source>某些邮件的内容具有相同特征(同时，某些信件所附有的病毒的执行脚本也具有相同的源码)，你可以将其特征字捕获下来，填写在下面。(特征码在填写时不允许折行，并且仅在允许检测内容选项被打开时才有效)</source>
        <translation>Some mail shares the same content (and the scripts of some viruses attached to letters share the same source): catch such signature words and write them below. (A signature stays on one line, and counts only when content checking is switched on.)</translation>
    </message>
    <message>
        <source>可以被收信的收件人</source>
        <translation>Recipients to accept</translation>
    </message>
    <message>
        <source>有时候来信所写的收件人地址并非你的地址，此时，若仍要接收这封信，请将其地址填写在这里。这种情况多发生在订阅的网络刊物、邮件讨论组等信件身上。(注意：特征字在填写时不允许折行)</source>
        <translation>Sometimes a letter is addressed to an address that is not yours; to accept such a letter anyway, write its address here. This happens mostly with newsletters and mailing lists. (Note: each signature word stays on one line.)</translation>
    </message>
    <message>
        <source>IP对照表(*.dat)</source>
        <translation>IP table(*.dat)</translation>
    </message>
    <message>
        <source>属性</source>
        <translation>Properties</translation>
    </message>
    <message>
        <source>保存该信件为纯文本</source>
        <translation>Save this letter as plain text</translation>
    </message>
    <message>
        <source>回复该信件</source>
        <translation>Reply to this letter</translation>
    </message>
    <message>
        <source>信件内容</source>
        <translation>Letter</translation>
    </message>
    <message>
        <source>纯文本</source>
        <translation>Plain text</translation>
    </message>
    <message>
        <source>HTML源码</source>
        <translation>HTML source</translation>
    </message>
    <message>
        <source>抄送：</source>
        <translation>Cc: </translation>
    </message>
    <message>
        <source>主题：</source>
        <translation>Subject: </translation>
    </message>
    <message>
        <source>回信内容</source>
        <translation>Reply</translation>
    </message>
    <message>
        <source>发信状态</source>
        <translation>Sending state</translation>
    </message>
    <message>
        <source>停止回复</source>
        <translation>Stop replying</translation>
    </message>
    <message>
        <source>发送回复</source>
        <translation>Send reply</translation>
    </message>
    <message>
        <source>文本文件(*.txt *.TXT)</source>
        <translation>Text files(*.txt *.TXT)</translation>
    </message>
    <message>
        <source>无法写入文件 </source>
        <translation>Cannot write the file </translation>
    </message>
    <message>
        <source>错误！</source>
        <translation>Error!</translation>
    </message>
    <message>
        <source>连接安全</source>
        <translation>Connection security</translation>
    </message>
    <message>
        <source>删除方式</source>
        <translation>Deleting</translation>
    </message>
    <message>
        <source>登录方式</source>
        <translation>Login method</translation>
    </message>
    <message>
        <source>OAuth2 提供者</source>
        <translation>OAuth2 provider</translation>
    </message>
</context>
</TS>
