// A host in C# with P/Invoke: log in (FunctionID 0), fetch the user information (8), then one
// business call (11, personal information), keeping to the buffer rule of qx_interface.h.
//
// Linux with mono:  mcs Host.cs && LD_LIBRARY_PATH=<folder of libqx_interface.so> mono Host.exe
// 32-bit Windows:   build for x86 with -define:WIN32 beside QX_Interface_center.dll.
//
// Run it in the folder that holds qx_interface.ini: the library reads it from the current
// directory at the moment it is loaded. Every text crossing the interface is GBK bytes: the
// functions take byte[] and the host encodes and decodes with code page 936 itself, since
// CharSet.Ansi would marshal with the system's default (UTF-8 on Linux, and whatever the
// machine is set to on Windows).
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Xml;

static class QxInterface {
#if WIN32
  // QX_Interface_center.dll exports the four functions undecorated with __stdcall.
  const string Library = "QX_Interface_center.dll";
  const CallingConvention Convention = CallingConvention.StdCall;
#else
  // libqx_interface.so uses the C convention (StdCall is the library's convention only on
  // 32-bit Windows). Found through LD_LIBRARY_PATH or the loader's cache.
  const string Library = "libqx_interface.so.1";
  const CallingConvention Convention = CallingConvention.Cdecl;
#endif

  [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
  public static extern int init_handle([In, Out] byte[] message);

  [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
  public static extern int config_handle(byte[] server, byte[] port, byte[] servlet, byte[] com);

  [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
  public static extern int business_handle(byte[] request, [In, Out] byte[] reply);

  [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
  public static extern int result_handle([In, Out] byte[] buffer);
}

static class Host {
  static Encoding gbk;

  // A buffer of capacity spaces and a terminating zero.
  static byte[] Spaces(int capacity) {
    byte[] buffer = new byte[capacity + 1];
    for (int i = 0; i < capacity; ++i) buffer[i] = (byte)' ';
    return buffer;
  }

  static string Text(byte[] buffer) {
    int end = Array.IndexOf(buffer, (byte)0);
    return gbk.GetString(buffer, 0, end < 0 ? buffer.Length : end);
  }

  static byte[] Gbk(string s) {
    return gbk.GetBytes(s + "\0");
  }

  // One business call. Returns the status; reply and fetched (through result_handle) as out.
  static int Call(string request, int capacity, out string reply, out bool fetched) {
    byte[] buffer = Spaces(capacity);
    int status = QxInterface.business_handle(Gbk(request), buffer);
    fetched = Text(buffer) == new string(' ', capacity);
    if (fetched) {
      // Untouched: the reply is longer than the buffer. Its length first, then the text.
      int length = QxInterface.result_handle(null);
      buffer = new byte[length + 1];
      QxInterface.result_handle(buffer);
    }
    reply = Text(buffer);
    return status;
  }

  static string Item(string xml, string path) {
    var document = new XmlDocument();
    document.LoadXml(xml);
    XmlNode node = document.SelectSingleNode(path);
    return node == null ? null : node.InnerText;
  }

  static int Main() {
#if NETCOREAPP
    // .NET Core and .NET 5+ know code page 936 only through System.Text.Encoding.CodePages;
    // mono has it built in (Debian: libmono-i18n-cjk4.0-cil).
    Encoding.RegisterProvider(CodePagesEncodingProvider.Instance);
#endif
    gbk = Encoding.GetEncoding(936);
    var failures = new List<string>();
    string reply;
    bool fetched;

    byte[] message = Spaces(255);
    int rc = QxInterface.init_handle(message);
    Console.WriteLine("init_handle -> " + rc);
    if (rc != 1) {
      Console.Error.WriteLine("c# host: init_handle failed: " + Text(message));
      return 1;
    }

    int status = Call("<Program><FunctionID>0</FunctionID><parameters><user>admin</user>" +
                      "<password>123456</password></parameters></Program>", 4096, out reply,
                      out fetched);
    string errorNo = Item(reply, "/Program/ErrorNo");
    Console.WriteLine("login -> " + status + ", ErrorNo " + errorNo);
    if (status < 0 || errorNo != "1") failures.Add("login failed: " + reply);

    status = Call("<Program><FunctionID>8</FunctionID></Program>", 4096, out reply, out fetched);
    string staffName = Item(reply, "/Program/user_info/row1/staff_name");
    Console.WriteLine("user information -> " + status + ", staff_name " + staffName);
    if (status < 0 || staffName != "王秀兰") failures.Add("user information: " + reply);

    // 128 bytes on purpose: this reply is longer, so it comes through result_handle.
    status = Call("<Program><FunctionID>11</FunctionID></Program>", 128, out reply, out fetched);
    string name = Item(reply, "/Program/personinfo/row1/name");
    Console.WriteLine("personal information -> " + status + ", " + gbk.GetByteCount(reply) +
                      " bytes" + (fetched ? " (fetched with result_handle)" : "") + ", name " +
                      name);
    if (status < 0 || name != "张伟") failures.Add("personal information: " + reply);
    if (!fetched) failures.Add("a reply longer than 128 bytes should have needed result_handle");

    foreach (string failure in failures) Console.Error.WriteLine("c# host: " + failure);
    Console.WriteLine(failures.Count == 0 ? "ok" : "FAILED");
    return failures.Count == 0 ? 0 : 1;
  }
}
