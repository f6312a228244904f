"use strict";
// The login: the name and password go to /api/login as JSON; the session comes back as a cookie.
document.getElementById("loginForm").addEventListener("submit", async (event) => {
  event.preventDefault();
  const message = document.getElementById("loginMessage");
  const button = document.getElementById("enter");
  message.textContent = "";
  button.disabled = true;
  try {
    const response = await fetch("/api/login", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({
        name: document.getElementById("name").value,
        password: document.getElementById("password").value,
      }),
    });
    if (response.ok) {
      location.replace("/");
      return;
    }
    const body = await response.json().catch(() => ({}));
    message.textContent = body.error || "Входът не успя.";
    document.getElementById("password").value = "";
  } catch (e) {
    message.textContent = "Няма връзка с услугата.";
  } finally {
    button.disabled = false;
  }
});
