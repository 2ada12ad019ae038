// A host in Java with JNA: log in (FunctionID 0), fetch the user information (8), then one
// business call (11, personal information), keeping to the buffer rule of qx_interface.h.
//
// usage: java -cp jna.jar Host.java LIBRARY
//   (libqx_interface.so, or QX_Interface_center.dll on 32-bit Windows)
//
// Run it in the folder that holds qx_interface.ini: the library reads it from the current
// directory at the moment it is loaded. Every text crossing the interface is GBK bytes, so the
// functions take byte[] and the host encodes and decodes them itself.
import com.sun.jna.Function;
import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.win32.StdCallLibrary;
import java.io.StringReader;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.xpath.XPathFactory;
import org.xml.sax.InputSource;

public class Host {
  static final Charset GBK = Charset.forName("GBK");

  public interface QxInterface extends Library {
    int init_handle(byte[] message);

    int config_handle(byte[] server, byte[] port, byte[] servlet, byte[] com);

    int business_handle(byte[] request, byte[] reply);

    int result_handle(byte[] buffer);
  }

  static QxInterface load(String path) {
    // 32-bit Windows exports the functions with __stdcall (undecorated names); elsewhere they
    // use the C convention.
    int convention =
        Platform.isWindows() && !Platform.is64Bit()
            ? StdCallLibrary.STDCALL_CONVENTION
            : Function.C_CONVENTION;
    return Native.load(
        path, QxInterface.class, Map.of(Library.OPTION_CALLING_CONVENTION, convention));
  }

  /** A buffer of capacity spaces and a terminating zero. */
  static byte[] spaces(int capacity) {
    byte[] buffer = new byte[capacity + 1];
    Arrays.fill(buffer, 0, capacity, (byte) ' ');
    return buffer;
  }

  static String text(byte[] buffer) {
    int end = 0;
    while (end < buffer.length && buffer[end] != 0) {
      end++;
    }
    return new String(buffer, 0, end, GBK);
  }

  static byte[] gbk(String s) {
    byte[] bytes = s.getBytes(GBK);
    return Arrays.copyOf(bytes, bytes.length + 1); // with the terminating zero
  }

  record Reply(int status, String text, boolean fetched) {}

  static Reply call(QxInterface lib, String request, int capacity) {
    byte[] buffer = spaces(capacity);
    int status = lib.business_handle(gbk(request), buffer);
    if (text(buffer).equals(" ".repeat(capacity))) {
      // Untouched: the reply is longer than the buffer. Its length first, then the text.
      int length = lib.result_handle(null);
      byte[] whole = new byte[length + 1];
      lib.result_handle(whole);
      return new Reply(status, text(whole), true);
    }
    return new Reply(status, text(buffer), false);
  }

  static String item(String xml, String path) throws Exception {
    var document =
        DocumentBuilderFactory.newInstance()
            .newDocumentBuilder()
            .parse(new InputSource(new StringReader(xml)));
    return XPathFactory.newInstance().newXPath().evaluate(path, document);
  }

  public static void main(String[] args) throws Exception {
    if (args.length != 1) {
      System.err.println("usage: java -cp jna.jar Host.java LIBRARY");
      System.exit(2);
    }
    QxInterface lib = load(args[0]);
    List<String> failures = new ArrayList<>();

    byte[] message = spaces(255);
    int rc = lib.init_handle(message);
    System.out.println("init_handle -> " + rc);
    if (rc != 1) {
      System.err.println("java host: init_handle failed: " + text(message));
      System.exit(1);
    }

    Reply login =
        call(
            lib,
            "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
                + "<password>123456</password></parameters></Program>",
            4096);
    String errorNo = item(login.text(), "/Program/ErrorNo");
    System.out.println("login -> " + login.status() + ", ErrorNo " + errorNo);
    if (login.status() < 0 || !errorNo.equals("1")) {
      failures.add("login failed: " + login.text());
    }

    Reply user = call(lib, "<Program><FunctionID>8</FunctionID></Program>", 4096);
    String staffName = item(user.text(), "/Program/user_info/row1/staff_name");
    System.out.println("user information -> " + user.status() + ", staff_name " + staffName);
    if (user.status() < 0 || !staffName.equals("王秀兰")) {
      failures.add("user information: " + user.text());
    }

    // 128 bytes on purpose: this reply is longer, so it comes through result_handle.
    Reply person = call(lib, "<Program><FunctionID>11</FunctionID></Program>", 128);
    String name = item(person.text(), "/Program/personinfo/row1/name");
    System.out.println(
        "personal information -> " + person.status() + ", " + person.text().getBytes(GBK).length
            + " bytes" + (person.fetched() ? " (fetched with result_handle)" : "") + ", name "
            + name);
    if (person.status() < 0 || !name.equals("张伟")) {
      failures.add("personal information: " + person.text());
    }
    if (!person.fetched()) {
      failures.add("a reply longer than 128 bytes should have needed result_handle");
    }

    for (String failure : failures) {
      System.err.println("java host: " + failure);
    }
    System.out.println(failures.isEmpty() ? "ok" : "FAILED");
    System.exit(failures.isEmpty() ? 0 : 1);
  }
}
