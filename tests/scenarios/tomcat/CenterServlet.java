// A center behind Tomcat, for scripts/interop: it keeps its login in the servlet container's
// session (the JSESSIONID cookie), as such centers do, and answers a later call by whether the
// request came with that session.
import jakarta.servlet.http.HttpServlet;
import jakarta.servlet.http.HttpServletRequest;
import jakarta.servlet.http.HttpServletResponse;
import jakarta.servlet.http.HttpSession;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

public class CenterServlet extends HttpServlet {
  @Override
  protected void doPost(HttpServletRequest request, HttpServletResponse response)
      throws IOException {
    String body = new String(request.getInputStream().readAllBytes(), StandardCharsets.ISO_8859_1);
    String answer;
    if (body.contains("<FunctionID>0</FunctionID>")) {
      HttpSession session = request.getSession(true);
      session.setAttribute("calls", 0);
      answer = "<Program><ErrorNo>1</ErrorNo><session>new</session><addition-xml><row1>"
          + "<add1>QXTOKEN-20240001</add1></row1></addition-xml></Program>";
    } else {
      HttpSession session = request.getSession(false);
      if (session == null) {
        answer = "<Program><ErrorNo>-1</ErrorNo><session>none</session></Program>";
      } else {
        int calls = (Integer) session.getAttribute("calls") + 1;
        session.setAttribute("calls", calls);
        answer = "<Program><ErrorNo>1</ErrorNo><session>known</session><calls>" + calls
            + "</calls><user_info><row1><center_id>430100</center_id><staff_id>0701</staff_id><staff_name>clerk</staff_name></row1></user_info></Program>";
      }
    }
    byte[] bytes = answer.getBytes(StandardCharsets.ISO_8859_1);
    response.setContentType("text/xml");
    response.setContentLength(bytes.length);
    response.getOutputStream().write(bytes);
  }
}
