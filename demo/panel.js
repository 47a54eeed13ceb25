// Buttons toggle between their two states; the clock shows the page is live.
(function () {
  let clicks = 0;
  for (const button of document.querySelectorAll("button")) {
    button.addEventListener("click", function () {
      const on = button.classList.toggle("on");
      button.textContent = on ? button.dataset.on : button.dataset.off;
      clicks += 1;
      document.getElementById("clicks").textContent = String(clicks);
    });
  }
  function tick() {
    document.getElementById("clock").textContent = new Date().toLocaleTimeString("en-GB");
  }
  tick();
  setInterval(tick, 1000);
})();
